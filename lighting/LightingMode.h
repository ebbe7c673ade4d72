// LightingMode: what a device shows (none, music, thermal), and every rule that turns a stored number
// into one. Modes travel as numbers ("Lighting.xml", ModeByIndex), and numbers other than 0, 1 and 2 do
// occur (hand edits, scripts, older clients); what each place makes of them is decided here and nowhere
// else. Also the group switches that ModeByIndex takes in place of a device. Pure functions; any thread.
#pragma once

#include <optional>

namespace ovled {

enum class LightingMode { None = 0, Music = 1, Thermal = 2 };

// The stored numbers of the three modes.
inline constexpr int kModeNone = 0;
inline constexpr int kModeMusic = 1;
inline constexpr int kModeThermal = 2;

// Indexes that ModeByIndex takes in place of a device, each switching a group off: the onboard zone, the
// strips. Storing the mode of one of the group's devices switches it on again.
inline constexpr int kOnboardOffCommand = -2;
inline constexpr int kStripsOffCommand = -3;

constexpr int Stored(LightingMode mode) noexcept
{
    return static_cast<int>(mode);
}

// A stored number as the modes are applied: 1 music, 2 thermal, and anything else none (a stored 7 shows
// nothing).
constexpr LightingMode AppliedMode(int stored) noexcept
{
    if (stored == kModeMusic)
        return LightingMode::Music;
    if (stored == kModeThermal)
        return LightingMode::Thermal;
    return LightingMode::None;
}

// The number a set stores for a device. The onboard zone stores the mode it applies; a strip stores the
// number as the caller gave it, so a stored 7 reads back as 7 (and still acts as none).
constexpr int StoredMode(bool onboard, int requested) noexcept
{
    return onboard ? Stored(AppliedMode(requested)) : requested;
}

// What a power event makes of a stored number: nothing for none (the device is neither darkened nor
// restored); music comes back as music, and any other number comes back as thermal, which the resume
// stores (a stored 5 becomes 2).
constexpr std::optional<LightingMode> ResumedMode(int stored) noexcept
{
    if (stored == kModeNone)
        return std::nullopt;
    return stored == kModeMusic ? LightingMode::Music : LightingMode::Thermal;
}

} // namespace ovled
