// MusicOutput: where the music colour of each tick goes. It routes the colour to the lighting manager's
// devices that are enabled for the tick, through the manager's DevicePainter (brightness, then the
// device's ShowColour), and writes a device only when what it would show changed since its last
// successful write, or when that write is a second old (so a colour that someone else painted over comes
// back). Built by the manager over its painter, which outlives it; owned by the music driver; called on
// the colour thread.
#pragma once

#include "lighting/ColourOutput.h"
#include "lighting/DevicePainter.h"

#include <cstdint>
#include <vector>

namespace ovled {

// A device's colour is written again after this many ticks without a write (one second at 10 ms).
inline constexpr std::uint32_t kColourRefreshTicks = 100;

class MusicOutput final : public IColourOutput {
public:
    // Indices that name none of the painter's devices are ignored.
    explicit MusicOutput(DevicePainter& painter) noexcept : m_painter(painter) {}
    void Write(const EnabledDevices& devices, Rgb colour) noexcept override;
    void Restart() noexcept override;

private:
    // What a device was last given successfully, and at which tick.
    struct Shown {
        int device = 0;
        Rgb colour;
        std::uint64_t tick = 0;
    };

    bool NeedsWrite(int device, Rgb colour) const noexcept;
    void Remember(int device, Rgb colour, bool written);

    DevicePainter& m_painter;
    std::vector<Shown> m_shown; // sorted by device
    std::uint64_t m_tick = 0;
};

} // namespace ovled
