// The music colour on the board: the manager's MusicOutput over the real controllers, as the colour thread
// writes it, and what each write puts on the firmware.
#include "leds/ExternalLedStripControl.h"
#include "lighting/MusicOutput.h"
#include "tests/support/BoardScope.h"
#include "tests/support/BoardTrace.h"

#include <gtest/gtest.h>

#include <memory>

namespace ovled {
namespace {

using test::BoardScope;
using test::WritesOf;
using Writes = std::vector<std::string>;

constexpr Rgb kColour{0x11, 0x22, 0x33};

// One tick to `devices`, with controllers for the onboard zone and strips 0..`strips`-1 (whether or not
// the board has them).
Writes WritesOfTick(BoardScope& scope, std::vector<int> devices, int strips = 6)
{
    LedControl onboard(scope.Hardware(), scope.Config());
    std::vector<std::unique_ptr<ExternalLedStripControl>> controllers;
    std::vector<ILedDevice*> stripDevices;
    for (int i = 0; i < strips; ++i) {
        controllers.push_back(std::make_unique<ExternalLedStripControl>(i, scope.Hardware(), scope.Config()));
        stripDevices.push_back(controllers.back().get());
    }
    DevicePainter painter(onboard, stripDevices);
    MusicOutput output(painter);
    return WritesOf(scope.Model(), [&] { output.Write(EnabledDevices(devices), kColour); });
}

TEST(MusicOnTheBoard, TheOnboardColourGoesToTheEcRegistersWhereTheSwitchItemExists)
{
    BoardScope scope(sim::Profile::SwitchAndStrips);
    EXPECT_EQ(WritesOfTick(scope, {-1}), (Writes{"ec 71 33", "ec 72 22", "ec 70 11"})) << "blue, green, red";
    EXPECT_EQ(scope.Model().EcRegister(0, 0x70), 0x11);
    EXPECT_EQ(scope.Model().EcRegister(0, 0x71), 0x33);
    EXPECT_EQ(scope.Model().EcRegister(0, 0x72), 0x22);
}

TEST(MusicOnTheBoard, TheOnboardColourGoesToItsItemWithoutTheSwitchItem)
{
    BoardScope scope(sim::Profile::NoSwitch);
    EXPECT_EQ(WritesOfTick(scope, {-1}), (Writes{"set 13060043 33221100 f1"}));
}

TEST(MusicOnTheBoard, StripsAreWrittenInTheirByteOrderUpToTheStripCount)
{
    BoardScope scope(sim::Profile::NoSwitch); // two strips
    EXPECT_EQ(WritesOfTick(scope, {0, 1, 2, 5}), (Writes{"set 13060046 0 f3", "set 13060049 331122 f3 @0",
                                                         "set 13060046 1 f3", "set 13060049 112233 f3 @1"}))
        << "strip 0 blue-red-green, the others red-green-blue; strips 2 and 5 are not on the board: their "
           "select is refused and nothing is painted";
    EXPECT_EQ(WritesOfTick(scope, {1}), (Writes{"set 13060046 1 f3", "set 13060049 112233 f3 @1"}))
        << "the onboard zone is left alone";
    EXPECT_EQ(WritesOfTick(scope, {}), Writes{});
    const auto reads = [&] {
        const sim::Counters counters = scope.Model().GetCounters();
        return counters.calls[static_cast<int>(sim::Method::GetItem)] +
               counters.calls[static_cast<int>(sim::Method::GetItemEx)];
    };
    const auto before = reads();
    (void)WritesOfTick(scope, {0, 1});
    EXPECT_EQ(reads(), before) << "the strip count is never read";
}

TEST(MusicOnTheBoard, ABoardWithoutStripsGetsNoStripWrites)
{
    BoardScope scope(sim::Profile::NoStrips);
    EXPECT_EQ(WritesOfTick(scope, {-1, 0, 1}), (Writes{"ec 71 33", "ec 72 22", "ec 70 11"}));
}

} // namespace
} // namespace ovled
