#include "audio/FirmwareColourOutput.h"

#include <algorithm>

namespace ovled {
namespace {

bool Same(Rgb a, Rgb b) noexcept
{
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

} // namespace

std::uint32_t StripColourWord(int index, Rgb colour) noexcept
{
    if (index == 0)
        return static_cast<std::uint32_t>(colour.blue) << 16 | static_cast<std::uint32_t>(colour.red) << 8 |
               colour.green;
    return static_cast<std::uint32_t>(colour.red) << 16 | static_cast<std::uint32_t>(colour.green) << 8 | colour.blue;
}

std::uint32_t OnboardColourWord(Rgb colour) noexcept
{
    return static_cast<std::uint32_t>(colour.blue) << 24 | static_cast<std::uint32_t>(colour.green) << 16 |
           static_cast<std::uint32_t>(colour.red) << 8;
}

void FirmwareColourOutput::Write(const EnabledDevices& devices, Rgb colour) noexcept
{
    try {
        ++m_tick;
        // A device that left the set may be painted by another mode before it comes back.
        std::erase_if(m_shown, [&](const Shown& shown) { return !devices.Contains(shown.device); });
        for (const int device : devices.Indices()) {
            if (!NeedsWrite(device, colour))
                continue;
            if (device == kOnboardDevice)
                Remember(device, colour, WriteOnboard(colour));
            else if (device >= 0)
                Remember(device, colour, WriteStrip(device, colour));
        }
    } catch (...) {
        // A failed write is not remembered; the next tick writes again.
    }
}

void FirmwareColourOutput::Restart() noexcept
{
    m_shown.clear();
}

bool FirmwareColourOutput::NeedsWrite(int device, Rgb colour) const noexcept
{
    const auto found = std::find_if(m_shown.begin(), m_shown.end(), [&](const Shown& s) { return s.device == device; });
    return found == m_shown.end() || !Same(found->colour, colour) || m_tick - found->tick >= kColourRefreshTicks;
}

void FirmwareColourOutput::Remember(int device, Rgb colour, bool written)
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

bool FirmwareColourOutput::WriteOnboard(Rgb colour)
{
    if (m_firmware.ItemExists(kOnboardEcColourItem)) {
        m_colorWriter.WriteBlue(colour.blue);
        m_colorWriter.WriteGreen(colour.green);
        m_colorWriter.WriteRed(colour.red);
        return true; // register writes report nothing
    }
    return m_firmware.WriteItem(kOnboardColourItem, OnboardColourWord(colour), kOnboardItemFlags);
}

bool FirmwareColourOutput::WriteStrip(int index, Rgb colour)
{
    // The select and the colour write under one lock, so no other strip operation moves the selection
    // in between.
    std::lock_guard lock(m_firmware.StripSelectionMutex());
    if (!m_firmware.WriteItem(kStripSelectItem, static_cast<std::uint32_t>(index), kStripItemFlags))
        return false;
    return m_firmware.WriteItem(kStripColourItem, StripColourWord(index, colour), kStripItemFlags);
}

} // namespace ovled
