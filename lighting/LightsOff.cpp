#include "lighting/LightsOff.h"

namespace ovled {

bool InNightWindow(int start, int end, int minutes) noexcept
{
    if (start == end)
        return false;
    if (start < end)
        return minutes >= start && minutes < end;
    return minutes >= start || minutes < end; // across midnight
}

std::optional<bool> ConsoleLockedAfter(std::uint32_t event, std::uint32_t session, std::uint32_t consoleSession,
                                       bool sessionLocked) noexcept
{
    switch (event) {
    case kSessionLock:
    case kSessionUnlock:
        if (session != consoleSession)
            return std::nullopt;
        return event == kSessionLock;
    case kSessionConsoleConnect:
        return sessionLocked;
    case kSessionConsoleDisconnect:
        return true;
    default:
        return std::nullopt;
    }
}

std::optional<int> ParseClockTime(std::wstring_view text) noexcept
{
    const auto colon = text.find(L':');
    if (colon == std::wstring_view::npos || colon < 1 || colon > 2 || text.size() != colon + 3)
        return std::nullopt;
    int hours = 0;
    for (std::size_t i = 0; i < colon; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return std::nullopt;
        hours = hours * 10 + (text[i] - L'0');
    }
    const wchar_t tens = text[colon + 1];
    const wchar_t ones = text[colon + 2];
    if (tens < L'0' || tens > L'5' || ones < L'0' || ones > L'9' || hours > 23)
        return std::nullopt;
    return hours * 60 + (tens - L'0') * 10 + (ones - L'0');
}

std::wstring FormatClockTime(int minutes)
{
    const int hours = minutes / 60;
    const int rest = minutes % 60;
    return {static_cast<wchar_t>(L'0' + hours / 10), static_cast<wchar_t>(L'0' + hours % 10), L':',
            static_cast<wchar_t>(L'0' + rest / 10), static_cast<wchar_t>(L'0' + rest % 10)};
}

void LightsOff::OffNow(TimePoint now, std::optional<std::chrono::minutes> minutes) noexcept
{
    m_offNow = true;
    m_offUntil.reset();
    if (minutes)
        m_offUntil = now + *minutes;
}

void LightsOff::OnNow(TimePoint now, int localMinutes) noexcept
{
    m_offNow = false;
    m_offUntil.reset();
    m_overridden = Holding(now, localMinutes);
}

std::uint32_t LightsOff::Holding(TimePoint now, int localMinutes) const noexcept
{
    std::uint32_t rules = 0;
    if (m_settings.onLock && m_locked)
        rules |= kRuleLock;
    if (m_settings.onDisplayOff && m_displayOff)
        rules |= kRuleDisplay;
    if (m_settings.nightly && InNightWindow(m_settings.nightStart, m_settings.nightEnd, localMinutes))
        rules |= kRuleNight;
    if (m_offNow && (!m_offUntil || now < *m_offUntil))
        rules |= kRuleOffNow;
    return rules;
}

std::uint32_t LightsOff::Evaluate(TimePoint now, int localMinutes) noexcept
{
    if (m_offNow && m_offUntil && now >= *m_offUntil) {
        m_offNow = false;
        m_offUntil.reset();
    }
    const std::uint32_t holding = Holding(now, localMinutes);
    // An override lasts while its rule holds: once the rule has ended, its next start counts again.
    m_overridden &= holding;
    return holding & ~m_overridden;
}

} // namespace ovled
