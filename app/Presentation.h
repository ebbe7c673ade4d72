// What the app shows of a snapshot, as string numbers (app/StringIds.h) and plain text: the status line
// and its suggestion, the tray icon, the modes, the colours, the night window's times, the mnemonics of
// the device rows. Pure functions; any thread. The Win32 side loads the strings and puts them together
// with Substitute.
#pragma once

#include "app/ServiceSession.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ovled::app {

struct StatusText {
    int message = 0;    // the status line
    int suggestion = 0; // what helps, or 0
};
StatusText StatusMessage(ServiceStatus status) noexcept;

TrayIconKind TrayIconFor(const Snapshot& snapshot) noexcept;

// The mode's string; 0 for a stored number that is no mode (shown with IDS_MODE_OTHER).
int ModeString(std::int32_t mode) noexcept;

// The strings of the rules that OffReasons reports, in bit order.
std::vector<int> OffReasonStrings(std::int32_t reasons);

// A colour argument (red in bits 0-7, green 8-15, blue 16-23) as "#RRGGBB"; empty for kNoColour.
std::wstring ColourText(std::int32_t colour);

// "H:MM" or "HH:MM", 00:00 to 23:59, as the service takes it ("HH:MM"); false for anything else.
bool ParseClockTime(std::wstring_view text, std::wstring& normalised);

// A label for a name with `key` as its mnemonic: '&' before the key's first occurrence (any case), or
// " (&K)" after the name when it has none; ampersands of the name are kept as text.
std::wstring WithMnemonic(std::wstring_view name, wchar_t key);

// The mnemonic of a device row: 'O' for the onboard zone, the digit of strips 0 to 9, none (0) after.
wchar_t DeviceMnemonic(int device) noexcept;

// A pattern's %1, %2, ... replaced by the arguments; "%%" is a percent sign.
std::wstring Substitute(std::wstring_view pattern, std::initializer_list<std::wstring_view> arguments);

} // namespace ovled::app
