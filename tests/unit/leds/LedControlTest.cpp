#include "leds/LedControl.h"

#include "hardware/ItemIds.h"
#include "tests/support/BoardScope.h"
#include "tests/support/BoardTrace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <functional>

namespace ovled {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using test::BoardScope;
using test::Shown;
using test::WritesOf;
using Writes = std::vector<std::string>;

struct SlotCase {
    const char* slot;
    std::function<void(LedControl&)> call;
    Writes expected;
};

// What every slot writes on the onboard zone, in order. The two hardware generations differ in the
// switch item, the host-control flags and the path of the direct colour.
std::vector<SlotCase> OnboardSlots(bool withSwitch)
{
    const std::string hostFlags = withSwitch ? "f3" : "f1";
    const std::string switchItem = withSwitch ? "13060040" : "13060042";
    // 45 degrees: hue 0.124875, that is red 255, green 191, blue 0.
    const Writes temperature = withSwitch ? Writes{"ec 70 ff", "ec 71 0", "ec 72 bf"}
                                          : Writes{"set 13060043 bfff00 f1"};
    return {
        {"HasSwitchItem", [](LedControl& c) { c.HasSwitchItem(); }, {}},
        {"IsOn", [](LedControl& c) { c.IsOn(); }, {}},
        {"SetOn(true)", [](LedControl& c) { c.SetOn(true); }, {"set " + switchItem + " 1 f1"}},
        {"SetOn(false)", [](LedControl& c) { c.SetOn(false); }, {"set " + switchItem + " 0 f1"}},
        {"SetEffect1", [](LedControl& c) { c.SetEffect1(0x00112233); }, {"set 13060041 0 f1", "set 13060042 11223301 f1"}},
        {"SetEffect2", [](LedControl& c) { c.SetEffect2(0x00FF0000); }, {"set 13060041 0 f1", "set 13060042 ff000002 f1"}},
        {"SetEffect3", [](LedControl& c) { c.SetEffect3(0xAB00FF00); }, {"set 13060041 0 f1", "set 13060042 ff0003 f1"}},
        {"SetEffect4", [](LedControl& c) { c.SetEffect4(); }, {"set 13060041 0 f1", "set 13060042 4 f1"}},
        {"GetEffectCode", [](LedControl& c) { c.GetEffectCode(); }, {}},
        {"GetEffectColor", [](LedControl& c) { c.GetEffectColor(); }, {}},
        {"EnterMusicMode", [](LedControl& c) { c.EnterMusicMode(); }, {"set 13060041 1 " + hostFlags}},
        {"EnterThermalMode", [](LedControl& c) { c.EnterThermalMode(); }, {"set 13060041 1 " + hostFlags}},
        {"LeaveHostControl", [](LedControl& c) { c.LeaveHostControl(); }, {"set 13060041 0 f3"}},
        {"ShowTemperature", [](LedControl& c) { c.ShowTemperature(45); }, temperature},
        {"ReadEcColor", [](LedControl& c) { c.ReadEcColor(); }, {}},
        {"HasAuxItem", [](LedControl& c) { c.HasAuxItem(); }, {}},
        {"SetAuxOn", [](LedControl& c) { c.SetAuxOn(true); }, {"set 13080045 1 f1"}},
        {"GetAux", [](LedControl& c) { c.GetAux(); }, {}},
        {"SetAux", [](LedControl& c) { c.SetAux(7); }, {"set 13080045 7 f1"}},
        {"SetEffectDefault", [](LedControl& c) { c.SetEffectDefault(); }, {"set 13060041 0 f1", "set 13060042 1 f1"}},
        {"SetEffect", [](LedControl& c) { c.SetEffect(2, 0x00336699); }, {"set 13060041 0 f1", "set 13060042 33669902 f1"}},
        {"GetEffect",
         [](LedControl& c) {
             std::int32_t code = 0;
             std::uint32_t colour = 0;
             c.GetEffect(&code, &colour);
         },
         {"set 13060041 0 f1"}},
        {"Reserved", [](LedControl& c) { c.Reserved(); }, {}},
    };
}

void ExpectSlotWrites(sim::Profile profile, bool withSwitch)
{
    BoardScope scope(profile);
    LedControl onboard(scope.Hardware(), scope.Config());
    for (const SlotCase& slot : OnboardSlots(withSwitch))
        EXPECT_EQ(WritesOf(scope.Model(), [&] { slot.call(onboard); }), slot.expected) << slot.slot;
}

TEST(OnboardController, EverySlotWritesItsItemsInOrderOnTheSwitchGeneration)
{
    ExpectSlotWrites(sim::Profile::SwitchAndStrips, true);
}

TEST(OnboardController, EverySlotWritesItsItemsInOrderOnTheGenerationWithoutSwitch)
{
    ExpectSlotWrites(sim::Profile::NoSwitch, false);
}

TEST(OnboardController, SwitchingPausesTenMillisecondsWhateverTheResult)
{
    BoardScope scope(sim::Profile::Empty);
    LedControl onboard(scope.Hardware(), scope.Config());
    onboard.SetOn(true);
    EXPECT_EQ(scope.Clock().TotalSlept(), std::chrono::milliseconds(10));
}

TEST(OnboardController, IsOnReadsTheSwitchOrTheEffectItem)
{
    BoardScope withSwitch(sim::Profile::SwitchAndStrips);
    LedControl onboard(withSwitch.Hardware(), withSwitch.Config());
    EXPECT_TRUE(onboard.IsOn());
    onboard.SetOn(false);
    EXPECT_FALSE(onboard.IsOn());
    onboard.SetOn(true);
    withSwitch.Model().SetFaults({.failingMethods = 1u << static_cast<unsigned>(sim::Method::GetItem)});
    EXPECT_FALSE(onboard.IsOn()) << "a switch that cannot be read counts as off";
}

TEST(OnboardController, WithoutSwitchAnyEffectValueButZeroMeansOn)
{
    BoardScope scope(sim::Profile::NoSwitch);
    LedControl onboard(scope.Hardware(), scope.Config());
    EXPECT_TRUE(onboard.IsOn()) << "the board starts with effect 0xFF02";
    onboard.SetOn(false);
    EXPECT_FALSE(onboard.IsOn());
    onboard.SetOn(true);
    EXPECT_TRUE(onboard.IsOn());
}

TEST(OnboardController, EffectsAreRememberedInTheConfigurationFileAndReadFromThere)
{
    BoardScope scope;
    LedControl onboard(scope.Hardware(), scope.Config());

    EXPECT_TRUE(onboard.SetEffect1(0));
    EXPECT_EQ(scope.Config().GetLedMode(-1), 1) << "the suspend effect: code 1, black";
    EXPECT_EQ(scope.Model().Onboard().effectCode, 1);

    EXPECT_TRUE(onboard.SetEffect(2, 0x00FF0000));
    EXPECT_EQ(static_cast<std::uint32_t>(scope.Config().GetLedMode(-1)), 0xFF000002u) << "blue in byte 3";
    EXPECT_EQ(onboard.GetEffectCode(), 2);
    EXPECT_EQ(onboard.GetEffectColor(), 0x00FF0000u);

    scope.Config().SetLedMode(-1, 0x12345600);
    EXPECT_EQ(onboard.GetEffectCode(), 0);
    EXPECT_EQ(onboard.GetEffectColor(), 0x00123456u);
    scope.Config().SetLedMode(-1, 0x12345605);
    EXPECT_EQ(onboard.GetEffectCode(), 0) << "codes above 4 are no effect";
    scope.Config().SetLedMode(-1, 0x12345604);
    EXPECT_EQ(onboard.GetEffectCode(), 4);
}

TEST(OnboardController, ARefusedEffectStillReachesTheFileAndReportsFailure)
{
    BoardScope scope;
    LedControl onboard(scope.Hardware(), scope.Config());
    scope.Model().SetFaults({.failingMethods = 1u << static_cast<unsigned>(sim::Method::SetItem)});
    EXPECT_FALSE(onboard.SetEffect3(0x000000FF));
    EXPECT_EQ(scope.Config().GetLedMode(-1), 0xFF03);
    EXPECT_FALSE(onboard.EnterMusicMode());
    EXPECT_FALSE(onboard.SetEffectDefault());
}

TEST(OnboardController, GetEffectLeavesHostControlAndReadsTheEffectItem)
{
    BoardScope scope;
    LedControl onboard(scope.Hardware(), scope.Config());
    ASSERT_TRUE(onboard.SetEffect(3, 0x00123456));
    ASSERT_TRUE(onboard.EnterMusicMode());
    scope.Config().SetLedMode(-1, 0x00000001); // the file says otherwise: the firmware is what is read

    std::int32_t code = 0;
    std::uint32_t colour = 0;
    ASSERT_TRUE(onboard.GetEffect(&code, &colour));
    EXPECT_EQ(code, 3);
    EXPECT_EQ(colour, 0x00123456u);
    EXPECT_FALSE(scope.Model().Onboard().hostControl);
}

TEST(OnboardController, TheThermalColourShowsOnBothGenerations)
{
    for (const auto profile : {sim::Profile::SwitchAndStrips, sim::Profile::NoSwitch}) {
        BoardScope scope(profile);
        LedControl onboard(scope.Hardware(), scope.Config());
        ASSERT_TRUE(onboard.EnterThermalMode());
        onboard.ShowTemperature(45);
        const sim::LedView view = scope.Model().Onboard();
        EXPECT_TRUE(view.hostControl);
        EXPECT_EQ(Shown(view), (Rgb{255, 191, 0})) << sim::ProfileName(profile);
    }
}

TEST(OnboardController, ReadEcColorGathersTheColourRegisters)
{
    BoardScope scope;
    LedControl onboard(scope.Hardware(), scope.Config());
    scope.Ec().WriteRegister(0, 0x70, 0x12);
    scope.Ec().WriteRegister(0, 0x71, 0xF4);
    scope.Ec().WriteRegister(0, 0x72, 0x56);
    EXPECT_EQ(onboard.ReadEcColor(), 0x00F45612u) << "red, green, blue from low byte to high";
}

TEST(OnboardController, TheAuxiliaryItemIsPassedThrough)
{
    BoardScope scope;
    LedControl onboard(scope.Hardware(), scope.Config());
    EXPECT_TRUE(onboard.HasAuxItem());
    EXPECT_EQ(onboard.SetAux(0x5A), 1);
    EXPECT_EQ(onboard.GetAux(), 0x5Au);
    EXPECT_EQ(onboard.SetAuxOn(false), 1);
    EXPECT_EQ(onboard.GetAux(), 0u);
}

TEST(ThermalColour, IsClampedAtTwentyAndSixtyDegrees)
{
    EXPECT_EQ(ThermalColour(20), ThermalColour(19));
    EXPECT_EQ(ThermalColour(20), ThermalColour(INT_MIN));
    EXPECT_NE(ThermalColour(20), ThermalColour(21));
    EXPECT_EQ(ThermalColour(60), (Rgb{255, 0, 0}));
    EXPECT_EQ(ThermalColour(61), (Rgb{255, 0, 0}));
    EXPECT_EQ(ThermalColour(INT_MAX), (Rgb{255, 0, 0}));
    EXPECT_NE(ThermalColour(59), (Rgb{255, 0, 0}));

    const Rgb cool = ThermalColour(10);
    EXPECT_EQ(cool.green, 255);
    EXPECT_LE(cool.red, 1) << "hue 0.333 is green, a hair short of pure";
    EXPECT_EQ(cool.blue, 0);
    EXPECT_EQ(ThermalColour(40), (Rgb{255, 255, 0})) << "half way: yellow";
    EXPECT_EQ(ThermalColour(45), (Rgb{255, 191, 0})) << "hue 0.124875: green 0.749 of full";
}

// A firmware without the items (no automation server, or an empty board): nothing is sent, every
// status is a failure and every read gives nothing.
TEST(OnboardController, WithoutItemsEveryOperationFailsQuietly)
{
    BoardScope scope(sim::Profile::Empty);
    LedControl onboard(scope.Hardware(), scope.Config());
    const Writes none = WritesOf(scope.Model(), [&] {
        EXPECT_FALSE(onboard.HasSwitchItem());
        EXPECT_FALSE(onboard.IsOn());
        onboard.SetOn(true);
        EXPECT_FALSE(onboard.SetEffect1(0x123456));
        EXPECT_FALSE(onboard.SetEffect4());
        EXPECT_FALSE(onboard.EnterMusicMode());
        EXPECT_FALSE(onboard.EnterThermalMode());
        EXPECT_FALSE(onboard.LeaveHostControl());
        onboard.ShowTemperature(45);
        EXPECT_FALSE(onboard.HasAuxItem());
        EXPECT_EQ(onboard.SetAuxOn(true), 0);
        EXPECT_EQ(onboard.GetAux(), 0u);
        EXPECT_EQ(onboard.SetAux(3), 0);
        EXPECT_FALSE(onboard.SetEffectDefault());
        std::int32_t code = -7;
        std::uint32_t colour = 0xDEAD;
        EXPECT_FALSE(onboard.GetEffect(&code, &colour));
        EXPECT_EQ(code, -7);
        EXPECT_EQ(colour, 0xDEADu);
    });
    EXPECT_THAT(none, IsEmpty());
    EXPECT_EQ(scope.Model().GetCounters().calls[static_cast<unsigned>(sim::Method::SetItem)], 0u);
    EXPECT_EQ(onboard.GetEffectCode(), 4) << "the file still remembers the last effect";
}

} // namespace
} // namespace ovled
