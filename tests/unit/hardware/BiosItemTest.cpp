#include "hardware/BiosItem.h"
#include "hardware/ElementFormat.h"
#include "hardware/ItemIds.h"
#include "simulator/ElementWriter.h"
#include "simulator/VirtualBoard.h"
#include "tests/support/RecordingNotifier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace ovled {
namespace {

using sim::ElementWriter;

constexpr std::uint32_t kPlainId = 0x13000050;       // kind 0
constexpr std::uint32_t kTemperatureId = 0x06030003; // kind 3

std::vector<std::uint8_t> NumberDescription(std::uint32_t id, std::uint32_t baseWord, std::uint32_t stepWord,
                                            std::uint32_t options, const std::vector<std::string>& extras = {})
{
    ElementWriter writer;
    writer.AddValue(id).AddString("Number").AddValue(0).AddValue(7).AddValue(baseWord).AddValue(stepWord).AddValue(
        options);
    if (!extras.empty()) {
        writer.AddValue(static_cast<std::uint32_t>(extras.size()));
        for (const auto& text : extras)
            writer.AddString(text);
    }
    return writer.Finish();
}

class BiosItemTest : public ::testing::Test {
protected:
    template <class Item>
    Item& Make(const std::vector<std::uint8_t>& description, bool expectParsed = true)
    {
        auto item = std::make_unique<Item>(m_board);
        EXPECT_EQ(item->Init(description.data(), static_cast<std::uint32_t>(description.size())), expectParsed);
        Item& ref = *item;
        m_items.push_back(std::move(item));
        return ref;
    }

    BiosNumberItem& Number(std::uint32_t id, std::uint32_t baseWord, std::uint32_t stepWord,
                           const std::vector<std::string>& extras = {})
    {
        return Make<BiosNumberItem>(NumberDescription(id, baseWord, stepWord, 10, extras));
    }

    sim::VirtualBoard m_board;
    test::RecordingNotifier m_messages;
    std::vector<std::unique_ptr<BiosItem>> m_items;
};

TEST(ElementFormat, SmallDataTakesTwelveBytesAndLongerDataItsLengthPlusEight)
{
    const auto buffer = ElementWriter().AddData({1, 2, 3, 4}).AddData({1, 2, 3, 4, 5}).AddValue(9).Finish();
    ElementCursor cursor(buffer.data(), buffer.size());
    EXPECT_EQ(cursor.Offset(), 8u);
    cursor.Next();
    EXPECT_EQ(cursor.Offset(), 20u);
    cursor.Next();
    EXPECT_EQ(cursor.Offset(), 33u);
    EXPECT_EQ(cursor.Value(), 9u);
    EXPECT_EQ(buffer.size(), 45u);
}

TEST(ElementFormat, NeverReadsOutsideTheBuffer)
{
    auto buffer = ElementWriter().AddString("abcdef").Finish();
    // A data length far past the end: the string stops at the buffer's end.
    buffer[10] = 0xFF;
    buffer[11] = 0xFF;
    buffer.resize(13); // "abcde" cut after "a"
    ElementCursor cursor(buffer.data(), buffer.size());
    EXPECT_EQ(cursor.String(), "a");
    EXPECT_EQ(cursor.Value(), std::nullopt);
    EXPECT_TRUE(cursor.Next());
    EXPECT_FALSE(cursor.Valid());
    EXPECT_FALSE(cursor.Next());
    EXPECT_EQ(ElementCount(buffer.data(), 7), 0u);
}

TEST_F(BiosItemTest, ReadsIdNameAndDescribedValueOfEveryKind)
{
    const auto description =
        ElementWriter().AddValue(0x06070008).AddString("Fan Fail Alarm").AddValue(0).AddValue(1).Finish();
    BiosBooleanItem& item = Make<BiosBooleanItem>(description);
    EXPECT_EQ(item.GetId(), 0x06070008u);
    EXPECT_EQ(item.GetName(), L"Fan Fail Alarm");
    EXPECT_EQ(item.GetStoredValue(), 1u);
    EXPECT_EQ(item.GetOptionCount(), 0);
}

TEST_F(BiosItemTest, BooleanWithOnlyThreeElementsIsMalformedButKeepsItsId)
{
    const auto description = ElementWriter().AddValue(0x06070008).AddString("x").AddValue(0).Finish();
    BiosBooleanItem& item = Make<BiosBooleanItem>(description, false);
    EXPECT_EQ(item.GetId(), 0x06070008u);
}

TEST_F(BiosItemTest, FewerThanThreeElementsLeaveTheIdZero)
{
    const auto description = ElementWriter().AddValue(0x13060040).AddString("x").Finish();
    BiosNumberItem& item = Make<BiosNumberItem>(description, false);
    EXPECT_EQ(item.GetId(), 0u);
    EXPECT_EQ(item.GetName(), L"x");
}

TEST_F(BiosItemTest, NumberWithSevenElementsHasNoExtraStrings)
{
    BiosNumberItem& item = Make<BiosNumberItem>(NumberDescription(kPlainId, 0, 1, 21));
    EXPECT_EQ(item.GetOptionCount(), 21);
    EXPECT_EQ(item.IndexToString(0), L"0");
    EXPECT_TRUE(m_messages.Messages().empty());
}

TEST_F(BiosItemTest, NumberWithEightElementsRejectsTheExtraStringList)
{
    auto description = ElementWriter()
                           .AddValue(kPlainId)
                           .AddString("n")
                           .AddValue(0)
                           .AddValue(0)
                           .AddValue(0)
                           .AddValue(1)
                           .AddValue(12)
                           .AddValue(1)
                           .Finish();
    BiosNumberItem& item = Make<BiosNumberItem>(description, false);
    EXPECT_EQ(item.GetOptionCount(), 12);
}

TEST_F(BiosItemTest, ExtraStringsComeFirstAndCountAsOptions)
{
    BiosNumberItem& item = Number(kPlainId, 0, 5, {"Auto", "Off"});
    EXPECT_EQ(item.GetOptionCount(), 12);
    EXPECT_EQ(item.IndexToString(0), L"Auto");
    EXPECT_EQ(item.IndexToString(1), L"Off");
    EXPECT_EQ(item.IndexToString(3), L"5"); // numeric index 1
    EXPECT_DOUBLE_EQ(item.IndexToValue(2), 0.0);
    EXPECT_TRUE(m_messages.Messages().empty());

    item.IndexToValue(1);
    std::int32_t numerator = 0, denominator = 0;
    item.IndexToRational(0, &numerator, &denominator);
    const auto messages = m_messages.Take();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, L"Can not convert extra string to value");
    EXPECT_EQ(messages[0].caption, L"IndexToValue Fail");
    EXPECT_EQ(messages[1].text, L"Can not convert extra string to value");
    EXPECT_EQ(messages[1].caption, L"IndexToRational Fail");
}

TEST_F(BiosItemTest, ExponentByteScalesValueRationalAndString)
{
    BiosNumberItem& item = Number(kPlainId, 0xFE000064, 0x00000005); // 100 * 10^-2, step 5
    EXPECT_DOUBLE_EQ(item.IndexToValue(3), 1.15);
    std::int32_t numerator = 0, denominator = 0;
    item.IndexToRational(3, &numerator, &denominator);
    EXPECT_EQ(numerator, 115);
    EXPECT_EQ(denominator, 100);
    EXPECT_EQ(item.IndexToString(3), L"1.15");
}

TEST_F(BiosItemTest, TemperatureKindReadsTenthsAndShowsFourDecimals)
{
    BiosNumberItem& item = Number(kTemperatureId, 0x00000000, 0x0000000A);
    EXPECT_DOUBLE_EQ(item.IndexToValue(5), 5.0);
    std::int32_t numerator = 0, denominator = 0;
    item.IndexToRational(5, &numerator, &denominator);
    EXPECT_EQ(numerator, 50);
    EXPECT_EQ(denominator, 10);
    EXPECT_EQ(item.IndexToString(5), L"5.0000");
}

TEST_F(BiosItemTest, KindsScaleByTheirUnit)
{
    // Base 250, step 1: kind 1 in hundredths, kinds 2 and 12 in thousandths, others unscaled.
    EXPECT_DOUBLE_EQ(Number(0x13010050, 250, 1).IndexToValue(0), 2.5);
    EXPECT_DOUBLE_EQ(Number(0x13020050, 250, 1).IndexToValue(0), 0.25);
    EXPECT_DOUBLE_EQ(Number(0x130C0050, 250, 1).IndexToValue(0), 0.25);
    EXPECT_DOUBLE_EQ(Number(0x13050050, 250, 1).IndexToValue(0), 250.0);
    EXPECT_EQ(Number(0x13010050, 250, 1).IndexToString(0), L"2.50");
    EXPECT_EQ(Number(0x13020050, 250, 1).IndexToString(0), L"0.250");
}

TEST_F(BiosItemTest, NegativeShiftByteMovesTheExponentIntoTheBase)
{
    BiosNumberItem& item = Number(kPlainId, 0x00000007, 0xFF000002); // base 7 -> 70 at 10^-1, step 2
    EXPECT_DOUBLE_EQ(item.IndexToValue(1), 7.2);
    std::int32_t numerator = 0, denominator = 0;
    item.IndexToRational(1, &numerator, &denominator);
    EXPECT_EQ(numerator, 72);
    EXPECT_EQ(denominator, 10);
    EXPECT_EQ(item.IndexToString(1), L"7.2");
}

TEST_F(BiosItemTest, PositiveShiftByteMultipliesTheStep)
{
    BiosNumberItem& item = Number(kPlainId, 0x00000000, 0x02000003); // step 3 * 100
    EXPECT_DOUBLE_EQ(item.IndexToValue(2), 600.0);
    EXPECT_EQ(item.IndexToString(2), L"600");
}

TEST_F(BiosItemTest, TwentyFourBitFieldsAreSignedDownToMinusTenThousandOnly)
{
    EXPECT_DOUBLE_EQ(Number(kPlainId, 0x00FFFFFF, 0).IndexToValue(0), -1.0);
    EXPECT_DOUBLE_EQ(Number(kPlainId, 0x00FFD8F0, 0).IndexToValue(0), -10000.0);
    EXPECT_DOUBLE_EQ(Number(kPlainId, 0x00FFD8EF, 0).IndexToValue(0), 16767215.0);
    EXPECT_DOUBLE_EQ(Number(kPlainId, 0x00800000, 0).IndexToValue(0), 8388608.0);
}

TEST_F(BiosItemTest, StringsCarryTheSignOnlyBelowZero)
{
    EXPECT_EQ(Number(0x13010050, 0x00FFFF9C, 1).IndexToString(0), L"-1.00"); // -100 hundredths
    EXPECT_EQ(Number(kPlainId, 0, 1).IndexToString(0), L"0");
    EXPECT_EQ(Number(kPlainId, 0xF9000000, 0x00FFFFFB).IndexToString(1), L"0.00000"); // -5e-7 shows no sign
}

TEST_F(BiosItemTest, ExtremeScalingWordsStayWithinDefinedArithmetic)
{
    // Shifts and exponents far beyond 64 bits: computed with wrapping arithmetic, never undefined.
    BiosNumberItem& huge = Number(kPlainId, 0x7F7FFFFF, 0x7F7FFFFF);
    EXPECT_TRUE(std::isfinite(huge.IndexToValue(0x7FFFFFFF)));
    EXPECT_FALSE(huge.IndexToString(0x7FFFFFFF).empty());
    BiosNumberItem& tiny = Number(0x13010050, 0x80000001, 0x80000001);
    std::int32_t numerator = 0, denominator = 0;
    tiny.IndexToRational(0xFFFFFFFF, &numerator, &denominator);
    EXPECT_FALSE(tiny.IndexToString(0xFFFFFFFF).empty());
}

TEST_F(BiosItemTest, UnsupportedConversionsSayWhichItemAndLeaveOutputsAlone)
{
    const auto description = ElementWriter()
                                 .AddValue(items::kAuxLed)
                                 .AddString("Aux LED")
                                 .AddValue(0)
                                 .AddValue(1)
                                 .AddValue(2)
                                 .AddString("Off")
                                 .AddString("On")
                                 .Finish();
    BiosStringItem& item = Make<BiosStringItem>(description);
    std::int32_t numerator = -7, denominator = -8;
    item.IndexToRational(1, &numerator, &denominator);
    EXPECT_EQ(numerator, -7);
    EXPECT_EQ(denominator, -8);
    EXPECT_DOUBLE_EQ(item.IndexToValue(1), 0.0);
    EXPECT_EQ(item.IndexToString(1), L"On");

    const auto messages = m_messages.Take();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, L"Item[13080045] does not supports IndexToRational");
    EXPECT_EQ(messages[1].text, L"Item[13080045] does not supports IndexToValue");
    EXPECT_EQ(messages[0].caption, L"BiosItem");

    const auto boolean = ElementWriter().AddValue(0x06070008).AddString("b").AddValue(0).AddValue(0).Finish();
    EXPECT_EQ(Make<BiosBooleanItem>(boolean).IndexToString(0), L"");
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_EQ(m_messages.Messages()[0].text, L"Item[6070008] does not supports IndexToString");
}

TEST_F(BiosItemTest, StringItemOutsideItsListGivesAnEmptyString)
{
    const auto description = ElementWriter()
                                 .AddValue(items::kAuxLed)
                                 .AddString("a")
                                 .AddValue(0)
                                 .AddValue(0)
                                 .AddValue(1)
                                 .AddString("On")
                                 .Finish();
    BiosStringItem& item = Make<BiosStringItem>(description);
    EXPECT_EQ(item.GetOptionCount(), 1);
    EXPECT_EQ(item.IndexToString(1), L"");
    EXPECT_EQ(item.IndexToString(0xFFFFFFFF), L"");
}

TEST_F(BiosItemTest, StringListLongerThanTheElementsLeftIsRejected)
{
    const auto description = ElementWriter()
                                 .AddValue(items::kAuxLed)
                                 .AddString("a")
                                 .AddValue(0)
                                 .AddValue(0)
                                 .AddValue(3)
                                 .AddString("On")
                                 .Finish();
    BiosStringItem& item = Make<BiosStringItem>(description, false);
    EXPECT_EQ(item.GetOptionCount(), 0);
    EXPECT_EQ(item.IndexToString(0), L"");
}

TEST_F(BiosItemTest, ElementCountsBeyondTheBytesNeverLeadOutsideThem)
{
    // The description claims two billion elements: what is needed is read, nothing past the bytes.
    auto description = NumberDescription(kPlainId, 0, 1, 5, {"Auto"});
    sim::WriteLittleEndian32(description.data() + kElementCountOffset, 2'000'000'000);
    EXPECT_EQ(Make<BiosNumberItem>(description).GetOptionCount(), 6);

    // The extra-string count says a million; only one string is there.
    auto strings = ElementWriter().AddValue(kPlainId).AddString("n").AddValue(0).AddValue(0).AddValue(0).AddValue(1)
                       .AddValue(3).AddValue(1'000'000).AddString("Auto").Finish();
    sim::WriteLittleEndian32(strings.data() + kElementCountOffset, 2'000'000);
    auto& item = Make<BiosNumberItem>(strings, false);
    EXPECT_EQ(item.GetOptionCount(), 3);
    EXPECT_EQ(item.IndexToString(0), L"0");
}

TEST_F(BiosItemTest, LiveValueGoesThroughTheTransport)
{
    BiosNumberItem& effect = Make<BiosNumberItem>(NumberDescription(items::kOnboardEffect, 0, 1, 0));
    EXPECT_EQ(effect.SetValueEx(0x00FF0001, items::kFlagsHost), 1);
    std::uint32_t value = 0;
    EXPECT_TRUE(effect.GetValue(&value));
    EXPECT_EQ(value, 0x00FF0001u);
    EXPECT_TRUE(effect.SetValue(3));
    const auto trace = m_board.Model().Trace();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].detail & 0xFF, 3u);
    EXPECT_EQ(trace[1].detail & 0xFF, 1u); // SetValue writes with flags 1

    sim::Faults faults{};
    faults.failingMethods = 1u << static_cast<int>(sim::Method::SetItem) | 1u << static_cast<int>(sim::Method::GetItem);
    m_board.Model().SetFaults(faults);
    EXPECT_EQ(effect.SetValueEx(5, 1), 0);
    EXPECT_FALSE(effect.SetValue(5));
    value = 0xABCD;
    EXPECT_FALSE(effect.GetValue(&value));
    EXPECT_EQ(value, 0xABCDu);
}

TEST_F(BiosItemTest, CompositedItemNeverReachesTheFirmware)
{
    auto& item = Make<BiosCompositedItem>(NumberDescription(0x060D0009, 0, 1, 4, {"Default"}));
    std::uint32_t value = 0;
    EXPECT_EQ(item.SetValueEx(1, 1), -1);
    EXPECT_FALSE(item.SetValue(1));
    EXPECT_FALSE(item.GetValue(&value));
    const sim::Counters counters = m_board.Model().GetCounters();
    EXPECT_EQ(counters.calls[static_cast<int>(sim::Method::SetItem)], 0u);
    EXPECT_EQ(counters.calls[static_cast<int>(sim::Method::GetItem)], 0u);
    EXPECT_EQ(item.IndexToString(0), L"Default");
}

TEST_F(BiosItemTest, CategoryIsBitsTwentyToTwentyThree)
{
    EXPECT_TRUE(Make<BiosNumberItem>(NumberDescription(0x13830050, 0, 1, 1)).IsCategory8());
    EXPECT_FALSE(Make<BiosNumberItem>(NumberDescription(0x13030050, 0, 1, 1)).IsCategory8());
}

TEST_F(BiosItemTest, NamesAreConvertedFromTheAnsiCodePage)
{
    const auto description =
        ElementWriter().AddValue(kTemperatureId).AddString("T\xB0").AddValue(0).AddValue(1).Finish();
    EXPECT_EQ(Make<BiosBooleanItem>(description).GetName(), L"T\u00B0");
}

TEST_F(BiosItemTest, NarrowItemsWorkTheSameWay)
{
    auto description = NumberDescription(kPlainId, 0xFE000064, 5, 10, {"Auto"});
    BasicBiosNumberItem<char> item(m_board);
    EXPECT_TRUE(item.Init(description.data(), static_cast<std::uint32_t>(description.size())));
    EXPECT_EQ(item.GetName(), "Number");
    EXPECT_EQ(item.IndexToString(0), "Auto");
    EXPECT_EQ(item.IndexToString(4), "1.15");
}

} // namespace
} // namespace ovled
