#include "leds/ExternalLedStripControl.h"

#include "hardware/ItemIds.h"
#include "tests/support/BoardScope.h"
#include "tests/support/BoardTrace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace ovled {
namespace {

using ::testing::IsEmpty;
using test::BoardScope;
using test::Shown;
using test::WritesOf;
using Writes = std::vector<std::string>;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n";

// Gives LED `led` the colour sequence `text` (and nothing else) in the configuration file.
void UseColourSequence(BoardScope& scope, int led, const std::string& text)
{
    test::WriteText(scope.Config().Path(), std::string(kDeclaration) + "<root><led key=\"" + std::to_string(led) +
                                               "\"><colorsequence>" + text + "</colorsequence></led></root>");
}

std::uint32_t StripRecordField(BoardScope& scope, std::uint32_t strip, std::uint32_t sim::StripRecord::*field)
{
    return scope.Model().With([&](sim::BoardState& state) { return state.strips[strip].*field; });
}

struct SlotCase {
    const char* slot;
    std::function<void(ExternalLedStripControl&)> call;
    Writes expected;
};

TEST(StripController, EverySlotSelectsItsStripBeforeItWrites)
{
    BoardScope scope;
    ExternalLedStripControl strip(1, scope.Hardware(), scope.Config());
    scope.Config().SetLedMode(1, 0x22110002);
    const Writes select = {"set 13060046 1 f3"};
    const std::vector<SlotCase> slots = {
        {"HasSwitchItem", [](auto& s) { s.HasSwitchItem(); }, select},
        {"IsOn", [](auto& s) { s.IsOn(); }, {}},
        {"SetOn(true)", [](auto& s) { s.SetOn(true); },
         {"set 13060046 1 f3", "set 13060047 0 f1 @1", "set 13060048 22110002 f1 @1"}},
        {"SetOn(false)", [](auto& s) { s.SetOn(false); },
         {"set 13060046 1 f3", "set 13060047 0 f1 @1", "set 13060048 1 f1 @1"}},
        {"SetEffect1", [](auto& s) { s.SetEffect1(0x00336699); },
         {"set 13060046 1 f3", "set 13060046 1 f3", "set 13060047 0 f1 @1", "set 13060048 66339901 f1 @1"}},
        {"SetEffect2", [](auto& s) { s.SetEffect2(0x00336699); },
         {"set 13060046 1 f3", "set 13060046 1 f3", "set 13060047 0 f1 @1", "set 13060048 66339902 f1 @1"}},
        {"SetEffect3", [](auto& s) { s.SetEffect3(0x00336699); },
         {"set 13060046 1 f3", "set 13060046 1 f3", "set 13060047 0 f1 @1", "set 13060048 66339903 f1 @1"}},
        {"SetEffect4", [](auto& s) { s.SetEffect4(); },
         {"set 13060046 1 f3", "set 13060046 1 f3", "set 13060047 0 f1 @1", "set 13060048 4 f1 @1"}},
        {"GetEffectCode", [](auto& s) { s.GetEffectCode(); }, select},
        {"GetEffectColor", [](auto& s) { s.GetEffectColor(); }, select},
        {"EnterMusicMode", [](auto& s) { s.EnterMusicMode(); }, {"set 13060046 1 f3", "set 13060047 1 f3 @1"}},
        {"EnterThermalMode", [](auto& s) { s.EnterThermalMode(); }, {"set 13060046 1 f3", "set 13060047 1 f3 @1"}},
        {"LeaveHostControl", [](auto& s) { s.LeaveHostControl(); }, {"set 13060046 1 f3", "set 13060047 0 f3 @1"}},
        // 45 degrees is red 255, green 191, blue 0; by the default sequence red, blue, green from byte 0.
        {"ShowTemperature", [](auto& s) { s.ShowTemperature(45); }, {"set 13060046 1 f3", "set 13060049 bf00ff f3 @1"}},
        {"ReadEcColor", [](auto& s) { s.ReadEcColor(); }, {}},
        {"HasAuxItem", [](auto& s) { s.HasAuxItem(); }, {}},
        {"SetAuxOn", [](auto& s) { s.SetAuxOn(true); }, {"set 13080045 1 f1"}},
        {"GetAux", [](auto& s) { s.GetAux(); }, {}},
        {"SetAux", [](auto& s) { s.SetAux(2); }, {"set 13080045 2 f1"}},
        // Inherited unchanged: the onboard zone's items.
        {"SetEffectDefault", [](auto& s) { s.SetEffectDefault(); }, {"set 13060041 0 f1", "set 13060042 1 f1"}},
        {"SetEffect", [](auto& s) { s.SetEffect(2, 0x00336699); },
         {"set 13060046 1 f3", "set 13060047 0 f1 @1", "set 13060048 66339902 f1 @1"}},
        {"GetEffect",
         [](auto& s) {
             std::int32_t code = 0;
             std::uint32_t colour = 0;
             s.GetEffect(&code, &colour);
         },
         {"set 13060046 1 f3", "set 13060047 0 f1 @1"}},
        {"Reserved", [](auto& s) { s.Reserved(); }, {}},
    };
    for (const SlotCase& slot : slots)
        EXPECT_EQ(WritesOf(scope.Model(), [&] { slot.call(strip); }), slot.expected) << slot.slot;
}

TEST(StripController, PacksEffectColoursByTheStripsColourSequence)
{
    BoardScope scope;
    ExternalLedStripControl strip(0, scope.Hardware(), scope.Config());

    ASSERT_TRUE(strip.SetEffect(1, 0x00336699));
    EXPECT_EQ(StripRecordField(scope, 0, &sim::StripRecord::effect), 0x66339901u)
        << "byte 1 red 0x99, byte 2 blue 0x33, byte 3 green 0x66";
    EXPECT_EQ(static_cast<std::uint32_t>(scope.Config().GetLedMode(0)), 0x66339901u);
    EXPECT_EQ(strip.GetEffectColor(), 0x00336699u);
    EXPECT_EQ(Shown(scope.Model().Strip(0)), (Rgb{0x99, 0x66, 0x33})) << "what the default wiring lights";

    UseColourSequence(scope, 0, "201");
    ASSERT_TRUE(strip.SetEffect(1, 0x00336699));
    EXPECT_EQ(StripRecordField(scope, 0, &sim::StripRecord::effect), 0x33996601u);
    const std::uint8_t wiring[3] = {2, 0, 1};
    ASSERT_TRUE(scope.Model().SetWiring(0, wiring));
    EXPECT_EQ(Shown(scope.Model().Strip(0)), (Rgb{0x99, 0x66, 0x33})) << "a sequence that matches the wiring";
}

TEST(StripController, PacksTheThermalColourByTheStripsColourSequence)
{
    BoardScope scope;
    ExternalLedStripControl strip(2, scope.Hardware(), scope.Config());
    UseColourSequence(scope, 2, "120");
    const std::uint8_t wiring[3] = {1, 2, 0};
    ASSERT_TRUE(scope.Model().SetWiring(2, wiring));
    ASSERT_TRUE(strip.EnterThermalMode());
    strip.ShowTemperature(45);
    EXPECT_EQ(StripRecordField(scope, 2, &sim::StripRecord::color), 0xFFBF00u) << "blue, green, red from byte 0";
    EXPECT_EQ(Shown(scope.Model().Strip(2)), (Rgb{255, 191, 0}));
}

// Entries 3-9 name no channel: their position gets no colour, also at the first position, and no
// other channel's byte is repeated into it.
TEST(StripController, AColourSequenceEntryAboveTwoLeavesItsPositionDark)
{
    BoardScope scope;
    ExternalLedStripControl strip(1, scope.Hardware(), scope.Config());

    UseColourSequence(scope, 1, "072");
    ASSERT_TRUE(strip.SetEffect(1, 0x00336699));
    EXPECT_EQ(StripRecordField(scope, 1, &sim::StripRecord::effect), 0x66009901u);

    UseColourSequence(scope, 1, "912");
    ASSERT_TRUE(strip.SetEffect(1, 0x00336699));
    EXPECT_EQ(StripRecordField(scope, 1, &sim::StripRecord::effect), 0x66330001u);

    UseColourSequence(scope, 1, "372");
    strip.ShowTemperature(45);
    EXPECT_EQ(StripRecordField(scope, 1, &sim::StripRecord::color), 0xBF0000u) << "only green, at byte 2";

    EXPECT_EQ(PackColourSequence({3, 0, 9}, 0x00336699, 0), 0x00009900u);
    EXPECT_EQ(PackColourSequence({0, 1, 2, 0}, 0x00336699, 8), 0x66339900u) << "three positions at most";
}

TEST(StripController, GetEffectCodeReadsTheFirmwareAndCountsZeroAsCodeOne)
{
    BoardScope scope;
    ExternalLedStripControl strip(1, scope.Hardware(), scope.Config());
    const std::vector<std::pair<std::uint32_t, std::int32_t>> cases = {
        {0x00000000, 1}, {0x00000003, 3}, {0x11223304, 4}, {0x11223300, 0}, {0x11223305, 0}, {0x000000FF, 0}};
    for (const auto& [value, code] : cases) {
        ASSERT_TRUE(strip.WriteStripEffect(value));
        EXPECT_EQ(strip.GetEffectCode(), code) << std::hex << value;
    }
    scope.Config().SetLedMode(1, 0x00000002);
    EXPECT_EQ(strip.GetEffectCode(), 0) << "the file plays no part";
}

TEST(StripController, SwitchingOffShowsEffectOneWithoutColourAndKeepsTheStoredEffect)
{
    BoardScope scope;
    ExternalLedStripControl strip(0, scope.Hardware(), scope.Config());
    ASSERT_TRUE(strip.SetEffect3(0x00A0B0C0));
    const int stored = scope.Config().GetLedMode(0);

    strip.SetOn(false);
    EXPECT_FALSE(strip.IsOn());
    EXPECT_EQ(StripRecordField(scope, 0, &sim::StripRecord::effect), 1u);
    EXPECT_EQ(scope.Config().GetLedMode(0), stored);

    strip.SetOn(true);
    EXPECT_TRUE(strip.IsOn());
    EXPECT_EQ(StripRecordField(scope, 0, &sim::StripRecord::effect), static_cast<std::uint32_t>(stored));
    EXPECT_EQ(scope.Clock().TotalSlept(), std::chrono::milliseconds(0)) << "strips switch without a pause";
}

TEST(StripController, SetEffectOneWithBlackWritesCodeOneAndRemembersIt)
{
    BoardScope scope;
    ExternalLedStripControl strip(2, scope.Hardware(), scope.Config());
    EXPECT_TRUE(strip.SetEffect1(0));
    EXPECT_EQ(StripRecordField(scope, 2, &sim::StripRecord::effect), 1u);
    EXPECT_EQ(scope.Config().GetLedMode(2), 1);
}

// The firmware refuses to select a strip it does not have. The strip items would then act on the strip
// selected before, so nothing more is written.
TEST(StripController, AStripTheFirmwareCannotSelectIsNeverPaintedOnAnother)
{
    BoardScope scope; // three strips
    ExternalLedStripControl present(1, scope.Hardware(), scope.Config());
    ExternalLedStripControl absent(5, scope.Hardware(), scope.Config());
    ASSERT_TRUE(present.SelectStrip());

    const Writes writes = WritesOf(scope.Model(), [&] {
        EXPECT_FALSE(absent.SelectStrip());
        EXPECT_FALSE(absent.SetEffect1(0x00123456));
        EXPECT_FALSE(absent.EnterThermalMode());
        absent.ShowTemperature(60);
        absent.SetOn(false);
        EXPECT_FALSE(absent.LeaveHostControl());
        EXPECT_EQ(absent.GetEffectCode(), 0);
        EXPECT_EQ(absent.GetEffectColor(), 0u);
    });
    EXPECT_THAT(writes, IsEmpty());
    EXPECT_EQ(StripRecordField(scope, 1, &sim::StripRecord::effect), 0xFFFFFF01u);
    EXPECT_EQ(StripRecordField(scope, 1, &sim::StripRecord::color), 0u);
    EXPECT_EQ(StripRecordField(scope, 1, &sim::StripRecord::hostControl), 0u);
    EXPECT_EQ(static_cast<std::uint32_t>(scope.Config().GetLedMode(5)), 0x34125601u)
        << "the file still remembers the effect";
}

TEST(StripController, GetEffectReadsItsOwnStripWhicheverWasSelectedLast)
{
    BoardScope scope;
    ExternalLedStripControl first(0, scope.Hardware(), scope.Config());
    ExternalLedStripControl last(2, scope.Hardware(), scope.Config());
    ASSERT_TRUE(first.SetEffect2(0x00336699));
    ASSERT_TRUE(last.SetEffect3(0x00010203));
    ASSERT_TRUE(last.EnterMusicMode());

    std::int32_t code = 0;
    std::uint32_t colour = 0;
    ASSERT_TRUE(first.GetEffect(&code, &colour));
    EXPECT_EQ(code, 2);
    EXPECT_EQ(colour, 0x00336699u);
    EXPECT_TRUE(scope.Model().Strip(2).hostControl) << "the other strip stays under the service's control";
}

TEST(StripController, WithoutStripItemsEveryOperationFailsQuietly)
{
    BoardScope scope(sim::Profile::NoStrips);
    ExternalLedStripControl strip(0, scope.Hardware(), scope.Config());
    const Writes writes = WritesOf(scope.Model(), [&] {
        EXPECT_FALSE(strip.HasSwitchItem());
        EXPECT_FALSE(strip.SetEffect(1, 0x123456));
        EXPECT_FALSE(strip.EnterMusicMode());
        strip.ShowTemperature(30);
        strip.SetOn(true);
        EXPECT_EQ(strip.GetEffectCode(), 0);
        std::int32_t code = 9;
        EXPECT_FALSE(strip.GetEffect(&code, nullptr));
        EXPECT_EQ(code, 9);
    });
    EXPECT_THAT(writes, IsEmpty());
    EXPECT_TRUE(strip.IsOn()) << "the on flag lives in the file";
}

TEST(StripCount, ComesFromTheSelectorItem)
{
    {
        BoardScope scope;
        EXPECT_EQ(GetExternalStripCount(scope.Registry()), 3) << "the selector reads 0x00000300";
        ASSERT_TRUE(scope.Model().SetStripCount(8));
        EXPECT_EQ(GetExternalStripCount(scope.Registry()), 8);
        scope.Model().SetFaults({.failingMethods = 1u << static_cast<unsigned>(sim::Method::GetItem)});
        EXPECT_EQ(GetExternalStripCount(scope.Registry()), 0) << "a selector that cannot be read";
    }
    {
        BoardScope scope(sim::Profile::NoSwitch);
        ExternalLedStripControl(1, scope.Hardware(), scope.Config()).SelectStrip();
        EXPECT_EQ(GetExternalStripCount(scope.Registry()), 2) << "the selected strip in bits 0-7 does not count";
    }
    {
        BoardScope scope(sim::Profile::NoStrips);
        EXPECT_EQ(GetExternalStripCount(scope.Registry()), 0);
    }
    {
        BoardScope scope(sim::Profile::Empty);
        EXPECT_EQ(GetExternalStripCount(scope.Registry()), 0);
    }
}

} // namespace
} // namespace ovled
