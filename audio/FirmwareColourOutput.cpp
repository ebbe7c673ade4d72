#include "audio/FirmwareColourOutput.h"

#include <algorithm>

namespace ovled {

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
        if (devices.Contains(kOnboardDevice))
            WriteOnboard(colour);
        WriteStrips(devices, colour);
    } catch (...) {
        // A failed write is not retried; the next tick writes again.
    }
}

void FirmwareColourOutput::WriteOnboard(Rgb colour)
{
    if (m_firmware.ItemExists(kOnboardEcColourItem)) {
        m_colorWriter.WriteBlue(colour.blue);
        m_colorWriter.WriteGreen(colour.green);
        m_colorWriter.WriteRed(colour.red);
    } else {
        m_firmware.WriteItem(kOnboardColourItem, OnboardColourWord(colour), kOnboardItemFlags);
    }
}

void FirmwareColourOutput::WriteStrips(const EnabledDevices& devices, Rgb colour)
{
    // Only strips are asked for; with none enabled the strip item is not even read.
    const auto strips = devices.Indices();
    if (std::none_of(strips.begin(), strips.end(), [](int index) { return index >= 0; }))
        return;
    const std::optional<std::uint32_t> value = m_firmware.ReadItem(kStripSelectItem);
    if (!value)
        return;
    const int count = static_cast<int>((*value >> 8) & 0xFF);
    for (const int index : strips) {
        if (index < 0 || index >= count)
            continue;
        std::lock_guard lock(m_firmware.StripSelectionMutex());
        m_firmware.WriteItem(kStripSelectItem, static_cast<std::uint32_t>(index), kStripItemFlags);
        m_firmware.WriteItem(kStripColourItem, StripColourWord(index, colour), kStripItemFlags);
    }
}

} // namespace ovled
