#include "lighting/HslToRgb.h"

#include "platform/Truncation.h"

namespace ovled {
namespace {

constexpr float kOneThird = 0.33333334f;
constexpr double kTwoThirds = 0.6666666666666666;

float Channel(float p, float q, float t) noexcept
{
    if (t < 0.0f)
        t += 1.0f;
    if (t > 1.0f)
        t -= 1.0f;
    if (t * 6.0f < 1.0f)
        return p + (q - p) * 6.0f * t;
    if (t * 2.0f < 1.0f)
        return q;
    if (t * 3.0f < 2.0f)
        return static_cast<float>(p + (q - p) * (kTwoThirds - t) * 6.0);
    return p;
}

// Rounds half up and keeps the low 8 bits, as a byte store of the rounded int does.
std::uint8_t ToByte(float value) noexcept
{
    return static_cast<std::uint8_t>(static_cast<unsigned>(TruncateToInt(static_cast<double>(value) + 0.5)) & 0xFFu);
}

} // namespace

Rgb HslToRgb(float hue, float saturation, float lightness) noexcept
{
    if (saturation == 0.0f) {
        const std::uint8_t grey = ToByte(lightness * 255.0f);
        return {grey, grey, grey};
    }
    const float q =
        lightness < 0.5f ? (saturation + 1.0f) * lightness : (lightness + saturation) - lightness * saturation;
    const float p = lightness * 2.0f - q;
    return {ToByte(Channel(p, q, hue + kOneThird) * 255.0f), ToByte(Channel(p, q, hue) * 255.0f),
            ToByte(Channel(p, q, hue - kOneThird) * 255.0f)};
}

void HslToRgb(const float* hue, const float* saturation, const float* lightness, std::uint8_t* red, std::uint8_t* green,
              std::uint8_t* blue) noexcept
{
    const Rgb colour = HslToRgb(*hue, *saturation, *lightness);
    *red = colour.red;
    *green = colour.green;
    *blue = colour.blue;
}

} // namespace ovled
