// What the console's session and display say, for the lights-off rules: decoded from the platform's
// session-change and power-setting notifications, whether they reach the service's control handler or
// the hidden window of a local server. Any thread.
#pragma once

#include <windows.h>

#include <optional>

namespace ovled::win32 {

// The console's lock state after session change `event` (WTS_*) of `session`; nothing when the change
// does not concern the console (lighting/LightsOff.h says which do).
std::optional<bool> ConsoleLockedAfterEvent(DWORD event, DWORD session) noexcept;

// Whether the display is off, from a power setting notification; nothing for another setting.
std::optional<bool> DisplayOffFromSetting(const POWERBROADCAST_SETTING* setting) noexcept;

} // namespace ovled::win32
