#include "audio/FirmwareColourOutput.h"
#include "devices/BoardDeviceFactory.h"
#include "devices/BoardMusicFirmware.h"
#include "hardware/ExternalLedStripControl.h"
#include "tests/support/BoardScope.h"
#include "tests/support/BoardTrace.h"

#include <gtest/gtest.h>

namespace ovled {
namespace {

using test::BoardScope;
using test::WritesOf;
using Writes = std::vector<std::string>;

constexpr Rgb kColour{0x11, 0x22, 0x33};

Writes WritesOfTick(BoardScope& scope, std::vector<int> devices)
{
    BoardMusicFirmware firmware(scope.Hardware());
    FirmwareColourOutput output(firmware);
    return WritesOf(scope.Model(), [&] { output.Write(EnabledDevices(devices), kColour); });
}

TEST(MusicOnTheBoard, TheOnboardColourGoesToTheEcRegistersWhereTheSwitchItemExists)
{
    BoardScope scope(sim::Profile::SwitchAndStrips);
    EXPECT_EQ(WritesOfTick(scope, {-1}), (Writes{"ec 71 33", "ec 72 22", "ec 70 11"}));
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
        << "strip 0 blue-red-green, the others red-green-blue; strips 2 and 5 are not on the board";
    EXPECT_EQ(WritesOfTick(scope, {1}), (Writes{"set 13060046 1 f3", "set 13060049 112233 f3 @1"}))
        << "the onboard zone is left alone";
    EXPECT_EQ(WritesOfTick(scope, {}), Writes{});
}

TEST(MusicOnTheBoard, ABoardWithoutStripsGetsNoStripWrites)
{
    BoardScope scope(sim::Profile::NoStrips);
    EXPECT_EQ(WritesOfTick(scope, {-1, 0, 1}), (Writes{"ec 71 33", "ec 72 22", "ec 70 11"}));
}

// The process's composition: controllers for the board's own devices.
TEST(BoardDevices, BuildsTheControllersOfTheBoardsDevices)
{
    BoardScope scope;
    IDeviceFactory& devices = scope.Root().Devices();
    EXPECT_EQ(devices.GetExternalStripCount(), 3);

    ASSERT_TRUE(devices.CreateStripController(2)->EnterMusicMode());
    EXPECT_TRUE(scope.Model().Strip(2).hostControl);
    EXPECT_FALSE(scope.Model().Strip(1).hostControl);

    const auto onboard = devices.CreateOnboardController();
    onboard->ShowTemperature(60);
    EXPECT_EQ(scope.Model().EcRegister(0, 0x70), 0xFF);
    ASSERT_TRUE(scope.Model().SetStripCount(8));
    EXPECT_EQ(devices.GetExternalStripCount(), 8);
}

} // namespace
} // namespace ovled
