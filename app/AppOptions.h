// The app's per-user options and what a start does with them. The package starts the app at every
// user's logon from the machine's Run key with /logon; a user who turned "start when I log on" off (or
// the tray, without which a logon start would show nothing) is honoured by the app exiting at once, before
// any window or COM call: a user cannot change the machine's Run key, and every user shares it.
// Pure functions; the options are stored per user by the Win32 side (HKCU\Software\Orvex\OvLedLighting).
#pragma once

#include <string_view>

namespace ovled::app {

struct AppOptions {
    bool trayIcon = true;
    bool startAtLogon = true;
};

enum class StartMode {
    Window, // open the window at once (/show, or started by hand)
    Tray,   // only the tray icon (a logon start)
    Exit,   // a logon start the user turned off
};

// The switch of the command line (/show, /logon, either leading character, any case; the first one
// wins) together with the options.
StartMode DecideStart(std::wstring_view commandLine, const AppOptions& options);

} // namespace ovled::app
