// LightingManager: the lighting modes of every device and the colour sources that show them. It owns the
// onboard controller, one controller per external strip, the music effect driver and the thermal
// thread, and keeps the modes in LightingSettings. Both sources reach the devices the same way: the
// music driver's colour of each tick goes through the manager's MusicOutput to the devices in music, and
// each thermal cycle's colour to the devices in thermal; either ends in the device's ShowColour.
// Threads: the power event window thread (construction, power events), COM threads (ModeByIndex), the
// thermal thread (reads the modes every period) and the apply thread. A set or a read never waits for a
// thread to end or for the firmware: it changes the stored modes under a short lock and asks for an apply;
// the apply (handing devices to the service, starting and stopping the music driver and the thermal
// thread, the firmware calls these make) runs on the manager's apply thread in the service, or on the
// caller's thread where the caller wants it done on return (tests that look at the devices' calls).
// Lights-off: while a rule of LightsOff holds, every device is dark and the music and thermal threads
// are stopped; when the last rule ends the devices are handed back by their stored modes, as after a
// resume. The brightness scales every colour of every source (DevicePainter).
#pragma once

#include "lighting/DeviceContract.h"
#include "lighting/DevicePainter.h"
#include "lighting/LightingMode.h"
#include "lighting/LightingSettings.h"
#include "lighting/LightsOff.h"
#include "lighting/ThermalEffect.h"
#include "platform/Clock.h"
#include "platform/ThreadSession.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ovled {

// Device indices: kOnboardDevice (-1) the onboard zone, 0..n-1 the strips; SetModeByIndex also takes the
// commands kOnboardOffCommand (-2) and kStripsOffCommand (-3) of lighting/LightingMode.h.

class LightingManager {
public:
    struct Timing {
        std::chrono::milliseconds thermalPeriod = kThermalPeriod;
        // Pause after the music driver is started or stopped, so that a start and a stop lie at least
        // one colour tick apart. An apply that asks the driver for the state it was last asked for
        // changes nothing and does not pause.
        std::chrono::milliseconds settleDelay{100};
        // Applies run on a thread of the manager's own (the service), so that no caller waits behind a
        // slow firmware call or a thread that is ending; otherwise on the caller's thread before it returns.
        bool applyOnOwnThread = false;
        // Minutes after local midnight, for the nightly rule.
        std::function<int()> localMinutes = platform::LocalMinutesOfDay;
    };

    // What a client may show of the lighting.
    struct DeviceStatus {
        int index = 0;          // kOnboardDevice or a strip
        int storedMode = 0;     // as GetModeByIndex answers
        bool groupOn = false;   // the on flag of its group (-2 and -3 switch them off)
        std::optional<Rgb> shown; // what it was last shown by a colour source, if anything
    };
    struct Status {
        std::vector<DeviceStatus> devices; // the onboard zone, then every strip
        int brightness = kFullBrightness;
        LightsOffSettings lightsOff;
        std::uint32_t holdingRules = 0; // LightsOffRule bits: the rules that keep the lights off now
        std::uint64_t changes = 0;      // counts every change of the above but the colours
    };

    // Builds the devices (reading the strip count from the firmware) and reads the stored modes; the first
    // apply hands the switched-on devices to the service by their stored modes and applies the modes.
    // `sessions` are begun by each run of the thermal thread and by the apply thread.
    LightingManager(LightingSettings& settings, IDeviceFactory& devices, ITemperatureSource& temperature,
                    platform::IWaitClock& clock, Timing timing,
                    platform::IThreadSessions& sessions = platform::NoThreadSessions());
    LightingManager(LightingSettings& settings, IDeviceFactory& devices, ITemperatureSource& temperature);
    ~LightingManager();
    LightingManager(const LightingManager&) = delete;
    LightingManager& operator=(const LightingManager&) = delete;

    // The stored mode of a device: the onboard zone for any negative index, 0 beyond the strips. Changes
    // nothing, so a zone switched off stays dark whoever reads.
    int GetModeByIndex(int index);
    // Stores a mode (switching the device's group on) or runs a command index, then asks for an apply.
    // Indices beyond the strips, and below -3, change nothing.
    void SetModeByIndex(int index, int mode);
    // SetModeByIndex for a device (not a command index) whose stored mode is still `seen`; false, and
    // nothing changed, when a caller has stored another since it was read (the caller's change stands).
    bool RestoreModeByIndex(int index, int seen, int mode);
    // Asks for the music driver and the thermal thread to be brought in line with the modes and on flags.
    void ApplyModes();
    // Waits until every apply asked for so far has been made; false after `patience`. For callers that
    // need the effects in place (tests, benchmarks); the service never waits for it.
    bool WaitUntilApplied(std::chrono::milliseconds patience = std::chrono::seconds(10));
    // Ends the music and thermal effects and waits for their threads, for good: the modes are still read
    // and stored, but nothing is applied any more. For the end of the process, so that no thread of the
    // lighting still holds firmware resources.
    void Shutdown();

    // Every colour of every source at `percent` (0..100) of its brightness; stored. False, and nothing
    // changed, outside that range.
    bool SetBrightness(int percent);
    // Stores the rules and judges them again. False, and nothing changed, for a window time outside
    // 0..1439 minutes.
    bool SetLightsOff(const LightsOffSettings& settings);
    // Changes the rules as `change` says, from what they are now, in one step (two clients that change
    // two rules at once both count); the same checks as SetLightsOff.
    bool ChangeLightsOff(const std::function<void(LightsOffSettings&)>& change);
    // What the console session and its display report.
    void SetSessionLocked(bool locked);
    void SetDisplayOff(bool off);
    // Darkness now, for `minutes` or until LightsOnNow; LightsOnNow also overrides the rules that hold
    // until each has ended.
    void LightsOffNow(std::optional<std::chrono::minutes> minutes);
    void LightsOnNow();
    // Judges the rules that depend on the time (the nightly window, the end of "off now") again. The
    // apply thread does it when one is due; tests, after moving the time.
    void EvaluateLightsOff();
    // The machine has resumed: devices that a rule keeps dark are darkened again.
    void Resumed();
    Status GetStatus();
    // The rules that hold now (LightsOffRule bits); 0 while the lights are on.
    std::uint32_t HoldingRules();

    int StripCount() const noexcept { return static_cast<int>(m_strips.size()); }
    bool IsThermalRunning() const { return m_thermal.IsRunning(); }

private:
    struct Snapshot {
        LightingMode onboardMode = LightingMode::None;
        bool onboardEnabled = false;
        bool stripsEnabled = false;
        std::vector<LightingMode> stripModes;
        bool dark = false;
    };

    void SetModeByIndexLocked(int index, int mode);
    // Runs the applies asked for, on the apply thread or under m_applyMutex on the caller's.
    void ApplyLoop();
    // After a request: on the caller's thread, the apply now (under m_applyMutex); else a wake-up of the
    // apply thread.
    void RunRequestedApply();
    void ApplyNow();
    void EnterStoredModes();
    void RequestApplyLocked();
    // Judges the rules at the clock's now; asks for an apply when the lights go off or on.
    void EvaluateLightsOffLocked();
    // When the time rules must be judged again on their own (the apply thread's timeout).
    std::optional<std::chrono::steady_clock::time_point> NextEvaluationLocked() const;
    // Every device that is switched on: host control and black.
    void Darken();
    // After the last rule ended: each device by its stored mode, as after a resume, while its group is on
    // (a group switched off stays dark); a device in mode none goes back to the firmware's effect.
    void Relight(const Snapshot& modes);
    void ThermalCycle();
    Snapshot TakeSnapshot();

    LightingSettings& m_settings;
    ITemperatureSource& m_temperature;
    platform::IWaitClock& m_clock;
    const Timing m_timing;
    platform::IThreadSessions& m_sessions;

    // The in-memory modes and the flags of the last apply, the apply bookkeeping. Held only for short
    // reads and writes of the settings, never while waiting for a thread or calling the firmware.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    LightingMode m_onboardMode = LightingMode::None;
    std::vector<LightingMode> m_stripModes;
    bool m_onboardEnabled = false;
    bool m_stripsEnabled = false;
    std::uint64_t m_requested = 0; // applies asked for
    std::uint64_t m_applied = 0;   // applies made
    bool m_shutDown = false;
    bool m_stopThread = false;
    LightsOff m_lightsOff;
    std::uint32_t m_holding = 0;   // what the last evaluation found
    bool m_redarken = false;       // a resume came while the lights were off
    bool m_repaintThermal = false; // the brightness changed
    std::uint64_t m_changes = 0;

    // What only the apply (one at a time) touches.
    std::mutex m_applyMutex;
    bool m_entered = false; // the stored modes of the start have been entered on the devices
    std::vector<int> m_enterModes; // those modes: the onboard zone's first, then each strip's
    std::optional<bool> m_musicRequested; // what the last apply asked of the music driver
    bool m_darkened = false; // the devices were darkened for a rule and not handed back yet

    std::unique_ptr<ILedDevice> m_onboard;
    std::vector<std::unique_ptr<ILedDevice>> m_strips;
    std::unique_ptr<DevicePainter> m_painter;
    std::unique_ptr<IMusicDriver> m_driver;
    // Destroyed before the devices and the driver it uses: the thermal thread, then the apply thread.
    ThermalThread m_thermal;
    std::thread m_applier;
};

} // namespace ovled
