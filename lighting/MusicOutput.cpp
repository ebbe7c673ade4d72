#include "lighting/MusicOutput.h"

#include <algorithm>

namespace ovled {

void MusicOutput::Write(const EnabledDevices& devices, Rgb colour) noexcept
{
    try {
        ++m_tick;
        // A device that left the set may be painted by another mode before it comes back.
        std::erase_if(m_shown, [&](const Shown& shown) { return !devices.Contains(shown.device); });
        const Rgb shown = m_painter.Scaled(colour);
        for (const int index : devices.Indices()) {
            if (m_painter.Device(index) && NeedsWrite(index, shown))
                Remember(index, shown, m_painter.Show(index, shown, ColourSource::Music));
        }
    } catch (...) {
        // A failed write is not remembered; the next tick writes again.
    }
}

void MusicOutput::Restart() noexcept
{
    m_shown.clear();
}

bool MusicOutput::NeedsWrite(int device, Rgb colour) const noexcept
{
    const auto found = std::find_if(m_shown.begin(), m_shown.end(), [&](const Shown& s) { return s.device == device; });
    return found == m_shown.end() || found->colour != colour || m_tick - found->tick >= kColourRefreshTicks;
}

void MusicOutput::Remember(int device, Rgb colour, bool written)
{
    const auto found = std::lower_bound(m_shown.begin(), m_shown.end(), device,
                                        [](const Shown& s, int d) { return s.device < d; });
    const bool known = found != m_shown.end() && found->device == device;
    if (!written) {
        if (known)
            m_shown.erase(found);
        return;
    }
    if (known)
        *found = Shown{device, colour, m_tick};
    else
        m_shown.insert(found, Shown{device, colour, m_tick});
}

} // namespace ovled
