#include "lighting/HslToRgb.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ovled {
namespace {

TEST(HslToRgb, GivesTheReferenceColours)
{
    struct Case {
        float hue, saturation, lightness;
        Rgb expected;
    };
    for (const Case c : {Case{0.0f, 1.0f, 0.5f, {255, 0, 0}},
                         {0.5f, 1.0f, 0.5f, {0, 255, 255}},
                         {1.0f, 1.0f, 0.5f, {255, 0, 0}},
                         {0.1f, 1.0f, 0.5f, {255, 153, 0}},
                         {0.7f, 0.0f, 0.3f, {77, 77, 77}},
                         {0.0f, 1.0f, 0.25f, {128, 0, 0}},
                         {0.0f, 1.0f, 0.0f, {0, 0, 0}},
                         {0.4f, 1.0f, 1.0f, {255, 255, 255}}}) {
        EXPECT_EQ(HslToRgb(c.hue, c.saturation, c.lightness), c.expected)
            << "hue " << c.hue << " saturation " << c.saturation << " lightness " << c.lightness;
        std::uint8_t r = 1, g = 2, b = 3;
        HslToRgb(&c.hue, &c.saturation, &c.lightness, &r, &g, &b);
        EXPECT_EQ((Rgb{r, g, b}), c.expected) << "through pointers, hue " << c.hue;
    }
}

// The textbook conversion, in double.
double ReferenceChannel(double p, double q, double t)
{
    t = t - std::floor(t);
    if (t < 1.0 / 6)
        return p + (q - p) * 6 * t;
    if (t < 0.5)
        return q;
    if (t < 2.0 / 3)
        return p + (q - p) * (2.0 / 3 - t) * 6;
    return p;
}

TEST(HslToRgb, MatchesTheTextbookFormulaOverTheWholeRange)
{
    int nearEdges = 0;
    for (int h = 0; h <= 720; ++h) {
        for (const float s : {0.0f, 0.2f, 0.5f, 0.8f, 1.0f}) {
            for (int l = 0; l <= 20; ++l) {
                const float hue = static_cast<float>(h / 720.0);
                const float lightness = static_cast<float>(l / 20.0);
                const double q = lightness < 0.5 ? lightness * (1 + s) : lightness + s - lightness * s;
                const double p = 2 * lightness - q;
                const double expected[3] = {ReferenceChannel(p, q, hue + 1.0 / 3) * 255,
                                            ReferenceChannel(p, q, hue) * 255,
                                            ReferenceChannel(p, q, hue - 1.0 / 3) * 255};
                const Rgb actual = HslToRgb(hue, s, lightness);
                const int got[3] = {actual.red, actual.green, actual.blue};
                for (int c = 0; c < 3; ++c) {
                    // Float steps may tip a value that lies on a rounding edge either way; elsewhere the
                    // byte is the rounded exact value.
                    const double fraction = expected[c] - std::floor(expected[c]);
                    if (std::abs(fraction - 0.5) < 1e-3) {
                        ++nearEdges;
                        ASSERT_LE(std::abs(got[c] - expected[c]), 0.51);
                    } else {
                        ASSERT_EQ(got[c], std::lround(expected[c]))
                            << "hue " << hue << " saturation " << s << " lightness " << lightness << " channel " << c;
                    }
                }
            }
        }
    }
    EXPECT_GT(nearEdges, 0) << "the grid does reach rounding edges";
}

} // namespace
} // namespace ovled
