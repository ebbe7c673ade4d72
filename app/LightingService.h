// The lighting app's view of the service: one connection (ILightingService: the Lighting class and
// LightControl's ModeByIndex, as the type library declares them) and what makes one (ILightingConnector).
// Any call may block for as long as the service takes to answer, so only the app's worker thread calls
// them (app/ServiceWorker.h); Windows implements them over COM (app/win32/), tests with a fake.
#pragma once

#include "lighting/DeviceContract.h"
#include "lighting/LightingMode.h"
#include "lighting/LightsOff.h"
#include "platform/Hresult.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ovled::app {

// Devices are named as ModeByIndex names them: kOnboardDevice the onboard zone, 0..n-1 the strips; a put
// with kOnboardOffCommand or kStripsOffCommand switches a group off, and the modes are kModeNone,
// kModeMusic and kModeThermal (lighting/).
// DeviceColour before the service has shown the device any colour.
inline constexpr std::int32_t kNoColour = -1;

// The lights-off rules of the Lighting class that a person switches, with the bits OffReasons reports
// them by (the service's own, lighting/LightsOff.h), and the bit of lights switched off by hand.
enum class OffRule : std::uint32_t { Locked = kRuleLock, DisplayOff = kRuleDisplay, Night = kRuleNight };
inline constexpr std::int32_t kOffReasonLightsOff = kRuleOffNow;

class ILightingService {
public:
    virtual ~ILightingService() = default;

    [[nodiscard]] virtual HResult DeviceCount(std::int32_t& count) = 0;
    [[nodiscard]] virtual HResult DeviceKind(int device, std::int32_t& kind) = 0;
    [[nodiscard]] virtual HResult DeviceName(int device, std::wstring& name) = 0;
    [[nodiscard]] virtual HResult DeviceMode(int device, std::int32_t& mode) = 0;
    [[nodiscard]] virtual HResult DeviceOn(int device, bool& on) = 0;
    [[nodiscard]] virtual HResult DeviceColour(int device, std::int32_t& colour) = 0;
    [[nodiscard]] virtual HResult Brightness(std::int32_t& percent) = 0;
    [[nodiscard]] virtual HResult SetBrightness(std::int32_t percent) = 0;
    [[nodiscard]] virtual HResult Rule(OffRule rule, bool& on) = 0;
    [[nodiscard]] virtual HResult SetRule(OffRule rule, bool on) = 0;
    // The night window's ends, "HH:MM".
    [[nodiscard]] virtual HResult NightTime(bool end, std::wstring& time) = 0;
    [[nodiscard]] virtual HResult SetNightTime(bool end, const std::wstring& time) = 0;
    [[nodiscard]] virtual HResult LightsOff(std::int32_t minutes) = 0;
    [[nodiscard]] virtual HResult LightsOn() = 0;
    [[nodiscard]] virtual HResult LightsAreOn(bool& on) = 0;
    [[nodiscard]] virtual HResult OffReasons(std::int32_t& rules) = 0;
    [[nodiscard]] virtual HResult ChangeCount(std::int32_t& count) = 0;
    // LightControl's ModeByIndex put: a mode for a device, or a group switched off (kOnboardOffCommand,
    // kStripsOffCommand).
    [[nodiscard]] virtual HResult SetModeByIndex(int index, int mode) = 0;
};

// What the service control manager says of the service, before any COM call: a stopped service is not
// started by the app (an activation would start it, and whoever stopped it meant it).
enum class ServiceState { Running, StartPending, StopPending, Stopped, NotInstalled, Unknown };

class ILightingConnector {
public:
    virtual ~ILightingConnector() = default;
    // Called on the worker thread before its first call and after its last (COM apartment).
    virtual void ThreadStarted() noexcept = 0;
    virtual void ThreadEnding() noexcept = 0;
    [[nodiscard]] virtual ServiceState QueryServiceState() noexcept = 0;
    // A new connection; `service` stays empty on failure.
    [[nodiscard]] virtual HResult Connect(std::unique_ptr<ILightingService>& service) noexcept = 0;
};

} // namespace ovled::app
