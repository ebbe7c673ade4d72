#include "lighting/LightsOff.h"

#include <gtest/gtest.h>

namespace ovled {
namespace {

using namespace std::chrono_literals;
using TimePoint = LightsOff::TimePoint;

constexpr int At(int hour, int minute) { return hour * 60 + minute; }

TEST(NightWindow, HoldsFromItsStartToItsEndAcrossMidnight)
{
    struct Row { int start, end, minutes; bool holds; };
    const Row rows[] = {
        {At(23, 0), At(7, 0), At(22, 59), false}, {At(23, 0), At(7, 0), At(23, 0), true},
        {At(23, 0), At(7, 0), At(0, 0), true},    {At(23, 0), At(7, 0), At(6, 59), true},
        {At(23, 0), At(7, 0), At(7, 0), false},   {At(9, 0), At(17, 0), At(12, 0), true},
        {At(9, 0), At(17, 0), At(17, 0), false},  {At(9, 0), At(17, 0), At(8, 59), false},
        {At(8, 0), At(8, 0), At(8, 0), false}, // an empty window
    };
    for (const Row& row : rows)
        EXPECT_EQ(InNightWindow(row.start, row.end, row.minutes), row.holds) << row.start << "-" << row.end << " at " << row.minutes;
}

TEST(ClockTime, ReadsHoursAndMinutesOfOneDayAndNothingElse)
{
    const struct {
        const wchar_t* text;
        std::optional<int> minutes;
    } rows[] = {
        {L"23:00", At(23, 0)}, {L"07:05", At(7, 5)}, {L"7:05", At(7, 5)}, {L"00:00", 0}, {L"23:59", At(23, 59)},
        {L"24:00", std::nullopt}, {L"25:00", std::nullopt}, {L"12:60", std::nullopt}, {L"", std::nullopt},
        {L"123:00", std::nullopt}, {L"12:5", std::nullopt}, {L" 12:00", std::nullopt}, {L"12:00 ", std::nullopt},
        {L"-1:00", std::nullopt}, {L"ab:cd", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ParseClockTime(row.text), row.minutes) << static_cast<int>(std::wstring_view(row.text).size());
    EXPECT_EQ(FormatClockTime(At(7, 5)), L"07:05");
}

TEST(ConsoleLock, OnlyTheConsoleSessionCounts)
{
    constexpr std::uint32_t kConsole = 1;
    const struct {
        std::uint32_t event, session;
        bool sessionLocked;
        std::optional<bool> locked;
    } rows[] = {
        {kSessionLock, kConsole, false, true},           {kSessionUnlock, kConsole, true, false},
        {kSessionLock, 3, false, std::nullopt},          {kSessionUnlock, 3, false, std::nullopt}, // remote
        {kSessionConsoleConnect, 2, true, true},         {kSessionConsoleConnect, 2, false, false},
        {kSessionConsoleDisconnect, kConsole, false, true}, {5 /* logon */, kConsole, false, std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ConsoleLockedAfter(row.event, row.session, kConsole, row.sessionLocked), row.locked)
            << row.event << " of session " << row.session;
}

class LightsOffTest : public ::testing::Test {
protected:
    LightsOffTest()
    {
        LightsOffSettings settings;
        settings.onLock = true;
        settings.nightly = true; // 23:00-07:00
        m_rules.Configure(settings);
    }
    std::uint32_t When(int minutes, std::chrono::minutes later = 0min) { return m_rules.Evaluate(m_start + later, minutes); }

    LightsOff m_rules;
    const TimePoint m_start{};
};

// The window is judged by the local time of each evaluation: a daylight-saving change or a clock set by
// hand counts at once, whichever way it moves.
TEST_F(LightsOffTest, TheNightHoldsAcrossDaylightSavingAndAClockSetByHand)
{
    EXPECT_EQ(When(At(2, 59)), kRuleNight);
    EXPECT_EQ(When(At(2, 0)), kRuleNight) << "clocks back an hour at 03:00";
    EXPECT_EQ(When(At(3, 0)), kRuleNight) << "clocks forward an hour at 02:00";
    EXPECT_EQ(When(At(12, 0)), 0u) << "set by hand to noon";
    EXPECT_EQ(When(At(23, 30)), kRuleNight) << "and back to the night";
}

TEST_F(LightsOffTest, OverlappingRulesKeepTheLightsOffUntilTheLastEnds)
{
    m_rules.SetLocked(true);
    EXPECT_EQ(When(At(22, 0)), kRuleLock);
    EXPECT_EQ(When(At(23, 0)), kRuleLock | kRuleNight);
    m_rules.SetLocked(false);
    EXPECT_EQ(When(At(23, 5)), kRuleNight) << "unlocked at night: still off";
    EXPECT_EQ(When(At(7, 0)), 0u);
}

TEST_F(LightsOffTest, OnNowOverridesTheRulesThatHoldUntilEachHasEnded)
{
    m_rules.SetLocked(true);
    ASSERT_EQ(When(At(23, 10)), kRuleLock | kRuleNight);
    m_rules.OnNow(m_start, ::ovled::At(23, 10));
    EXPECT_EQ(When(At(23, 20)), 0u);
    m_rules.SetLocked(false);
    EXPECT_EQ(When(At(23, 30)), 0u);
    m_rules.SetLocked(true);
    EXPECT_EQ(When(At(23, 40)), kRuleLock) << "the next lock counts again; the night is still overridden";
    EXPECT_EQ(When(At(7, 0)), kRuleLock);
    EXPECT_EQ(When(At(23, 0)), kRuleLock | kRuleNight) << "and so does the next night";
}

TEST_F(LightsOffTest, OffNowLastsItsMinutesOnTheSteadyClockOrUntilOnNow)
{
    m_rules.OffNow(m_start, 60min);
    EXPECT_EQ(When(At(12, 0), 59min), kRuleOffNow);
    EXPECT_EQ(When(At(20, 0), 59min), kRuleOffNow) << "a clock set by hand does not shorten it";
    EXPECT_EQ(When(At(13, 0), 60min), 0u);
    EXPECT_FALSE(m_rules.OffNowEnds());

    m_rules.OffNow(m_start, std::nullopt);
    EXPECT_EQ(When(At(12, 0), 24h), kRuleOffNow);
    m_rules.OnNow(m_start + 24h, ::ovled::At(12, 0));
    EXPECT_EQ(When(At(12, 1), 24h), 0u);
}

} // namespace
} // namespace ovled
