#include "service/CommandLine.h"

#include <array>
#include <utility>

namespace ovled::service {
namespace {

constexpr std::array<std::pair<std::wstring_view, CommandSwitch>, 6> kRegistrationSwitches{{
    {L"UnregServer", CommandSwitch::UnregServer},
    {L"RegServer", CommandSwitch::RegServer},
    {L"UnregServerPerUser", CommandSwitch::UnregServerPerUser},
    {L"RegServerPerUser", CommandSwitch::RegServerPerUser},
    {L"RegTypeLib", CommandSwitch::RegTypeLib},
    {L"UnregTypeLib", CommandSwitch::UnregTypeLib},
}};
constexpr std::wstring_view kServiceSwitch = L"Service";

bool EndsToken(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t';
}
bool StartsToken(wchar_t c) noexcept
{
    return c == L'-' || c == L'/';
}

HResult Unregister(ISwitchActions& actions)
{
    const HResult result = actions.UnregisterClasses(true);
    return Succeeded(result) ? actions.UnregisterAppKey() : result;
}

HResult Register(ISwitchActions& actions, bool asService)
{
    (void)actions.RegisterAppKey(asService); // reports its own failures and always answers S_OK
    return actions.RegisterClasses(true);
}

} // namespace

wchar_t FoldAsciiCase(wchar_t c) noexcept
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

std::vector<std::wstring_view> SwitchTokens(std::wstring_view commandLine)
{
    std::vector<std::wstring_view> tokens;
    for (size_t i = 0; i < commandLine.size(); ++i) {
        if (!StartsToken(commandLine[i]))
            continue;
        size_t end = i + 1;
        while (end < commandLine.size() && !EndsToken(commandLine[end]))
            ++end;
        tokens.push_back(commandLine.substr(i + 1, end - i - 1));
    }
    return tokens;
}

bool TokenMatches(std::wstring_view token, std::wstring_view keyword, FoldCase fold) noexcept
{
    if (token.size() != keyword.size())
        return false;
    for (size_t i = 0; i < token.size(); ++i) {
        if (fold(token[i]) != fold(keyword[i]))
            return false;
    }
    return true;
}

CommandSwitch FindSwitch(std::wstring_view commandLine, FoldCase fold)
{
    const auto tokens = SwitchTokens(commandLine);
    for (const auto token : tokens) {
        for (const auto& [keyword, selected] : kRegistrationSwitches) {
            if (TokenMatches(token, keyword, fold))
                return selected;
        }
    }
    for (const auto token : tokens) {
        if (TokenMatches(token, kServiceSwitch, fold))
            return CommandSwitch::Service;
    }
    return CommandSwitch::None;
}

HResult RunSwitch(CommandSwitch selected, ISwitchActions& actions)
{
    switch (selected) {
    case CommandSwitch::UnregServerPerUser:
        actions.SetPerUser();
        [[fallthrough]];
    case CommandSwitch::UnregServer:
        return Unregister(actions);
    case CommandSwitch::RegServerPerUser:
        actions.SetPerUser();
        [[fallthrough]];
    case CommandSwitch::RegServer:
        return Register(actions, false);
    case CommandSwitch::Service:
        return Register(actions, true);
    case CommandSwitch::RegTypeLib:
        return actions.RegisterTypeLibrary();
    case CommandSwitch::UnregTypeLib:
        return actions.UnregisterTypeLibrary();
    case CommandSwitch::None:
        break;
    }
    return kSOk;
}

bool HandleCommandLine(std::wstring_view commandLine, ISwitchActions& actions, HResult& exitCode, FoldCase fold)
{
    exitCode = kSOk;
    const CommandSwitch selected = FindSwitch(commandLine, fold);
    if (selected == CommandSwitch::None)
        return true;
    exitCode = RunSwitch(selected, actions);
    return false;
}

} // namespace ovled::service
