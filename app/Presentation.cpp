#include "app/Presentation.h"

#include "app/StringIds.h"
#include "lighting/LightsOff.h"

#include <cwctype>
#include <optional>

namespace ovled::app {

StatusText StatusMessage(ServiceStatus status) noexcept
{
    switch (status) {
    case ServiceStatus::Connecting:
        return {IDS_STATUS_CONNECTING, 0};
    case ServiceStatus::Running:
        return {IDS_STATUS_RUNNING, 0};
    case ServiceStatus::Starting:
        return {IDS_STATUS_STARTING, 0};
    case ServiceStatus::Stopped:
        return {IDS_STATUS_STOPPED, IDS_HINT_STOPPED};
    case ServiceStatus::NotInstalled:
        return {IDS_STATUS_NOT_INSTALLED, IDS_HINT_NOT_INSTALLED};
    case ServiceStatus::AccessDenied:
        return {IDS_STATUS_ACCESS_DENIED, IDS_HINT_ACCESS_DENIED};
    case ServiceStatus::NotAnswering:
        return {IDS_STATUS_NOT_ANSWERING, IDS_HINT_NOT_ANSWERING};
    case ServiceStatus::Failed:
        return {IDS_STATUS_FAILED, 0};
    }
    return {IDS_STATUS_FAILED, 0};
}

TrayIconKind TrayIconFor(const Snapshot& snapshot) noexcept
{
    switch (snapshot.status) {
    case ServiceStatus::Running:
        return snapshot.state.lightsOn ? TrayIconKind::On : TrayIconKind::Off;
    case ServiceStatus::Connecting:
    case ServiceStatus::Starting:
        // Transient: a (re)connection or a start in progress is not yet worth a warning.
        return snapshot.known && snapshot.state.lightsOn ? TrayIconKind::On : TrayIconKind::Off;
    default:
        return TrayIconKind::Problem;
    }
}

int ModeString(std::int32_t mode) noexcept
{
    switch (mode) {
    case kModeNone:
        return IDS_MODE_NONE;
    case kModeMusic:
        return IDS_MODE_MUSIC;
    case kModeThermal:
        return IDS_MODE_THERMAL;
    default:
        return 0;
    }
}

std::vector<int> OffReasonStrings(std::int32_t reasons)
{
    static constexpr std::pair<std::int32_t, int> kReasons[] = {
        {static_cast<std::int32_t>(OffRule::Locked), IDS_REASON_LOCKED},
        {static_cast<std::int32_t>(OffRule::DisplayOff), IDS_REASON_DISPLAY_OFF},
        {static_cast<std::int32_t>(OffRule::Night), IDS_REASON_NIGHT},
        {kOffReasonLightsOff, IDS_REASON_LIGHTS_OFF},
    };
    std::vector<int> strings;
    for (const auto& [bit, string] : kReasons) {
        if (reasons & bit)
            strings.push_back(string);
    }
    return strings;
}

std::wstring ColourText(std::int32_t colour)
{
    if (colour == kNoColour)
        return {};
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text = L"#";
    for (int shift : {0, 8, 16}) {
        const unsigned byte = (static_cast<std::uint32_t>(colour) >> shift) & 0xFFu;
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xFu];
    }
    return text;
}

bool ParseClockTime(std::wstring_view text, std::wstring& normalised)
{
    const std::optional<int> minutes = ovled::ParseClockTime(text);
    if (!minutes)
        return false;
    normalised = FormatClockTime(*minutes);
    return true;
}

std::wstring WithMnemonic(std::wstring_view name, wchar_t key)
{
    std::wstring label;
    bool placed = key == 0;
    for (wchar_t c : name) {
        if (!placed && std::towupper(c) == std::towupper(key)) {
            label += L'&';
            placed = true;
        }
        label += c;
        if (c == L'&')
            label += L'&';
    }
    if (!placed)
        label += std::wstring(L" (&") + static_cast<wchar_t>(std::towupper(key)) + L")";
    return label;
}

wchar_t DeviceMnemonic(int device) noexcept
{
    if (device == kOnboardDevice)
        return L'O';
    return device >= 0 && device <= 9 ? static_cast<wchar_t>(L'0' + device) : 0;
}

std::wstring Substitute(std::wstring_view pattern, std::initializer_list<std::wstring_view> arguments)
{
    std::wstring text;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != L'%' || i + 1 == pattern.size()) {
            text += pattern[i];
            continue;
        }
        const wchar_t next = pattern[++i];
        const auto index = static_cast<std::size_t>(next - L'1');
        if (next == L'%')
            text += L'%';
        else if (next >= L'1' && next <= L'9' && index < arguments.size())
            text += *(arguments.begin() + index);
        else {
            text += L'%';
            text += next;
        }
    }
    return text;
}

} // namespace ovled::app
