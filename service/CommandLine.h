// The executable's command line: finding the registration and service switches and running the one
// that is found. Called once, on the main thread, by the process entry; no state of its own.
#pragma once

#include "platform/Hresult.h"

#include <string_view>
#include <vector>

namespace ovled::service {

enum class CommandSwitch {
    None,
    UnregServer,
    RegServer,
    UnregServerPerUser,
    RegServerPerUser,
    RegTypeLib,
    UnregTypeLib,
    Service,
};

// Upper-cases one UTF-16 code unit. Windows passes the system's own case mapping (CharUpperBuffW);
// the default folds the ASCII letters only.
using FoldCase = wchar_t (*)(wchar_t) noexcept;
wchar_t FoldAsciiCase(wchar_t c) noexcept;

// Every '-' or '/' starts a token: the text right after it, up to a space, a tab or the end. A '-' or
// '/' inside a token starts a further token, and the program's own path is scanned like the rest.
std::vector<std::wstring_view> SwitchTokens(std::wstring_view commandLine);

// Equal unit by unit after folding, and of the same length: "RegServerX" and "RegServer:" match
// nothing.
bool TokenMatches(std::wstring_view token, std::wstring_view keyword, FoldCase fold) noexcept;

// The switch that the command line selects. The registration switches are looked for across all
// tokens first (the first token that matches any of them wins); "Service" only when none is there.
// "RegTypeLib" and "UnregTypeLib" touch the machine's type library registration only: an installer
// that writes the class keys and the service from its own tables runs them.
CommandSwitch FindSwitch(std::wstring_view commandLine, FoldCase fold = FoldAsciiCase);

// The registration work that the switches start.
class ISwitchActions {
public:
    virtual ~ISwitchActions() = default;
    // Makes the following registration work use the per-user class root.
    virtual void SetPerUser() = 0;
    virtual HResult RegisterAppKey(bool asService) = 0;
    virtual HResult UnregisterAppKey() = 0;
    virtual HResult RegisterClasses(bool withTypeLibrary) = 0;
    virtual HResult UnregisterClasses(bool withTypeLibrary) = 0;
    virtual HResult RegisterTypeLibrary() = 0;
    virtual HResult UnregisterTypeLibrary() = 0;
};

// Runs the actions of one switch; the result of its last action is the process's exit code.
HResult RunSwitch(CommandSwitch selected, ISwitchActions& actions);

// True when the command line holds no switch and the module is to be started. False when a switch
// was handled; `exitCode` then holds its result.
bool HandleCommandLine(std::wstring_view commandLine, ISwitchActions& actions, HResult& exitCode,
                       FoldCase fold = FoldAsciiCase);

} // namespace ovled::service
