// A strip operation on one thread and the music colour on another share the firmware's one strip
// selection: neither may ever paint a strip the other selected.
#include "leds/ExternalLedStripControl.h"
#include "lighting/MusicOutput.h"
#include "tests/support/BoardScope.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace ovled {
namespace {

constexpr int kRounds = 4000;

TEST(StripSelection, AStripOperationAndTheMusicColourNeverPaintAnotherStrip)
{
    test::BoardScope scope; // three strips
    ExternalLedStripControl strip(1, scope.Hardware(), scope.Config());
    LedControl onboard(scope.Hardware(), scope.Config());
    ExternalLedStripControl strip0(0, scope.Hardware(), scope.Config());
    ExternalLedStripControl strip2(2, scope.Hardware(), scope.Config());
    DevicePainter painter(onboard, {&strip0, nullptr, &strip2});
    MusicOutput music(painter);
    const std::vector<int> musicStrips{0, 2};

    // Only strip 1's effect and only strips 0 and 2's colours are ever written: anything that lands
    // elsewhere stays there for the check below.
    std::atomic<bool> go{false};
    std::thread colourThread([&] {
        while (!go.load())
            std::this_thread::yield();
        for (int i = 0; i < kRounds; ++i)
            music.Write(EnabledDevices(musicStrips), Rgb{0x10, 0x20, static_cast<std::uint8_t>(i)});
    });
    go.store(true);
    for (int i = 0; i < kRounds; ++i)
        ASSERT_TRUE(strip.WriteStripEffect(0x01020300u | static_cast<std::uint32_t>(i % 4 + 1)));
    colourThread.join();

    const auto strips = scope.Model().With([](sim::BoardState& state) {
        return std::vector<sim::StripRecord>(state.strips, state.strips + 3);
    });
    EXPECT_EQ(strips[0].effect, 0xFFFFFF01u) << "strip 1's effect landed on strip 0";
    EXPECT_EQ(strips[2].effect, 0xFFFFFF01u) << "strip 1's effect landed on strip 2";
    EXPECT_EQ(strips[1].color, 0u) << "the music colour landed on strip 1";
    EXPECT_NE(strips[0].color, 0u);
    EXPECT_NE(strips[2].color, 0u);
}

} // namespace
} // namespace ovled
