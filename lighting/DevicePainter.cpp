#include "lighting/DevicePainter.h"

namespace ovled {
namespace {

std::uint8_t ScaleChannel(std::uint8_t value, int percent) noexcept
{
    return static_cast<std::uint8_t>((value * percent + kFullBrightness / 2) / kFullBrightness);
}

} // namespace

DevicePainter::DevicePainter(ILedDevice& onboard, std::vector<ILedDevice*> strips)
    : m_onboard(onboard), m_strips(std::move(strips)), m_shown(m_strips.size() + 1)
{
}

Rgb DevicePainter::Scaled(Rgb colour) const noexcept
{
    const int percent = m_brightness.load();
    if (percent >= kFullBrightness)
        return colour;
    return {ScaleChannel(colour.red, percent), ScaleChannel(colour.green, percent), ScaleChannel(colour.blue, percent)};
}

ILedDevice* DevicePainter::Device(int index) const noexcept
{
    if (index == kOnboardDevice)
        return &m_onboard;
    if (index >= 0 && static_cast<std::size_t>(index) < m_strips.size())
        return m_strips[static_cast<std::size_t>(index)];
    return nullptr;
}

void DevicePainter::SetDark(bool dark)
{
    std::unique_lock gate(m_darkGate);
    m_dark = dark;
}

bool DevicePainter::Show(int device, Rgb shown, ColourSource source)
{
    std::shared_lock gate(m_darkGate);
    if (m_dark)
        return false;
    return ShowAnyway(device, shown, source);
}

bool DevicePainter::ShowDark(int device)
{
    return ShowAnyway(device, Rgb{}, ColourSource::Thermal);
}

bool DevicePainter::ShowAnyway(int device, Rgb shown, ColourSource source)
{
    ILedDevice* target = Device(device);
    if (!target || !target->ShowColour(shown, source))
        return false;
    std::lock_guard lock(m_mutex);
    m_shown[static_cast<std::size_t>(device + 1)] = shown;
    return true;
}

std::optional<Rgb> DevicePainter::LastShown(int device) const
{
    if (!Device(device))
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    return m_shown[static_cast<std::size_t>(device + 1)];
}

void DevicePainter::Forget(int device)
{
    if (!Device(device))
        return;
    std::lock_guard lock(m_mutex);
    m_shown[static_cast<std::size_t>(device + 1)].reset();
}

} // namespace ovled
