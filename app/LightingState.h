// What the app knows of the lighting: the devices, the brightness and the lights-off rules, as read
// from the service, and the changes a person asks for (Command). Read and applied on the worker thread;
// the window gets copies.
#pragma once

#include "app/LightingService.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ovled::app {

struct DeviceState {
    int index = kOnboardDevice; // as ModeByIndex names it
    std::int32_t kind = 0;
    std::wstring name;
    std::int32_t mode = 0;
    bool on = true; // the device's group is switched on
    std::int32_t colour = kNoColour;

    bool operator==(const DeviceState&) const = default;
};

struct LightingState {
    std::vector<DeviceState> devices; // the onboard zone, then the strips
    std::int32_t brightness = 100;
    bool offWhenLocked = false;
    bool offWhenDisplayOff = false;
    bool offAtNight = false;
    std::wstring nightStart;
    std::wstring nightEnd;
    bool lightsOn = true;
    std::int32_t offReasons = 0;
    std::int32_t changeCount = 0;

    bool operator==(const LightingState&) const = default;
};

// Everything but the change count, which the caller read just before and passes in: kept with what is
// read after it, so a change made while the rest is read shows as a newer count at the next look.
[[nodiscard]] HResult ReadLightingState(ILightingService& service, std::int32_t changeCount, LightingState& state);
// Only the colours of the devices `state` already holds.
[[nodiscard]] HResult ReadColours(ILightingService& service, LightingState& state);

struct Command {
    enum class Kind {
        SetMode,       // ModeByIndex put: index and value (switching a group on is storing its mode)
        AllModes,      // every device to `value`
        SetBrightness, // value: percent
        SetRule,       // rule, value: 0 or 1
        SetNightTime,  // value: 0 start, 1 end; text "HH:MM"
        LightsOff,     // value: minutes, 0 until turned on
        LightsOn,
    };
    Kind kind = Kind::LightsOn;
    int index = 0;
    int value = 0;
    OffRule rule = OffRule::Locked;
    std::wstring text;

    // Whether `later` makes this command pointless when both wait (a slider moved twice).
    bool ReplacedBy(const Command& later) const noexcept;
};

// Applies one command. AllModes reads the device count itself, so it reaches a strip added since the
// last look.
[[nodiscard]] HResult ApplyCommand(ILightingService& service, const Command& command);

} // namespace ovled::app
