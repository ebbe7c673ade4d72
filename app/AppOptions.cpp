#include "app/AppOptions.h"

#include <cwctype>

namespace ovled::app {
namespace {

bool SameSwitch(std::wstring_view token, std::wstring_view name)
{
    if (token.size() != name.size())
        return false;
    for (std::size_t i = 0; i < token.size(); ++i) {
        if (static_cast<wchar_t>(std::towlower(token[i])) != name[i])
            return false;
    }
    return true;
}

} // namespace

StartMode DecideStart(std::wstring_view commandLine, const AppOptions& options)
{
    std::size_t at = 0;
    while (at < commandLine.size()) {
        const std::size_t end = std::min(commandLine.find_first_of(L" \t", at), commandLine.size());
        const std::wstring_view token = commandLine.substr(at, end - at);
        at = end + 1;
        if (token.size() < 2 || (token[0] != L'/' && token[0] != L'-'))
            continue;
        if (SameSwitch(token.substr(1), L"show"))
            return StartMode::Window;
        if (SameSwitch(token.substr(1), L"logon"))
            return options.startAtLogon && options.trayIcon ? StartMode::Tray : StartMode::Exit;
    }
    return StartMode::Window;
}

} // namespace ovled::app
