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
