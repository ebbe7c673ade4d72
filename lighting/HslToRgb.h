// HslToRgb: hue (in turns), saturation and lightness to red, green and blue bytes. The bytes are an
// external contract (the music colour and the thermal colour both come from here), so every step keeps
// the float and double arithmetic it is defined with. Pure function; any thread.
#pragma once

#include <cstdint>

namespace ovled {

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The colour argument (red bits 0-7, green 8-15, blue 16-23) of a colour.
constexpr std::uint32_t ColourArgument(Rgb colour) noexcept
{
    return static_cast<std::uint32_t>(colour.red) | static_cast<std::uint32_t>(colour.green) << 8 |
           static_cast<std::uint32_t>(colour.blue) << 16;
}

// Inputs in [0, 1]; hue 0 and 1 are red, 1/3 green, 2/3 blue.
Rgb HslToRgb(float hue, float saturation, float lightness) noexcept;

// The same through pointers, as the LED controllers call it.
void HslToRgb(const float* hue, const float* saturation, const float* lightness, std::uint8_t* red, std::uint8_t* green,
              std::uint8_t* blue) noexcept;

} // namespace ovled
