#include "lighting/ThermalEffect.h"
#include "tests/support/SteppedClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace ovled {
namespace {

using test::SteppedClock;

TEST(ThermalThread, TheFirstCycleComesOnePeriodAfterTheStart)
{
    SteppedClock clock;
    std::atomic<int> cycles{0};
    ThermalThread thread(clock, std::chrono::milliseconds(3000), [&] { ++cycles; });
    thread.Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    EXPECT_EQ(cycles.load(), 0);
    EXPECT_EQ(clock.LastPeriod(), std::chrono::milliseconds(3000));
    ASSERT_TRUE(clock.StepAndSettle());
    EXPECT_EQ(cycles.load(), 1);
    ASSERT_TRUE(clock.StepAndSettle());
    EXPECT_EQ(cycles.load(), 2);
}

TEST(ThermalThread, AStopEndsTheThreadAtItsNextWaitWithoutAnotherCycle)
{
    SteppedClock clock;
    std::atomic<int> cycles{0};
    ThermalThread thread(clock, std::chrono::milliseconds(3000), [&] { ++cycles; });
    thread.Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    thread.RequestStop();
    EXPECT_FALSE(thread.IsRunning());
    ASSERT_TRUE(clock.WaitUntilNoWaiters());
    EXPECT_EQ(cycles.load(), 0);
}

TEST(ThermalThread, StartWhileRunningDoesNothing)
{
    SteppedClock clock;
    ThermalThread thread(clock, std::chrono::milliseconds(3000), [] {});
    thread.Start();
    thread.Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    EXPECT_EQ(clock.Waiters(), 1);
    EXPECT_TRUE(thread.IsRunning());
}

TEST(ThermalThread, AStartRightAfterAStopWaitsForTheOldThread)
{
    SteppedClock clock;
    ThermalThread thread(clock, std::chrono::milliseconds(3000), [] {});
    for (int i = 0; i < 20; ++i) {
        thread.Start();
        thread.RequestStop();
    }
    thread.Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    EXPECT_EQ(clock.Waiters(), 1);
}

TEST(ThermalThread, AThrowingCycleDoesNotEndTheThread)
{
    SteppedClock clock;
    std::atomic<int> cycles{0};
    ThermalThread thread(clock, std::chrono::milliseconds(3000), [&] {
        ++cycles;
        throw std::runtime_error("firmware went away");
    });
    thread.Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    ASSERT_TRUE(clock.StepAndSettle());
    ASSERT_TRUE(clock.StepAndSettle());
    EXPECT_EQ(cycles.load(), 2);
}

// Cycles start a period apart, start to start: a cycle's own time and a late wake-up shorten the wait
// after it, and an overrun is followed at once by one cycle, then the pace resumes from there (no burst
// to catch up).
TEST(PeriodicThread, CyclesStartAPeriodApartAndAnOverrunIsFollowedAtOnce)
{
    using std::chrono::milliseconds;
    SteppedClock clock;
    const milliseconds cycleTimes[] = {milliseconds(4), milliseconds(25), milliseconds(0), milliseconds(4)};
    std::atomic<int> cycles{0};
    ThermalThread thread(clock, milliseconds(10), [&] { clock.Advance(cycleTimes[cycles++ % 4]); });
    thread.Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    const struct {
        milliseconds wokenLate;
        milliseconds nextWait;
    } steps[] = {{milliseconds(0), milliseconds(6)},
                 {milliseconds(0), milliseconds(0)},
                 {milliseconds(0), milliseconds(10)},
                 {milliseconds(2), milliseconds(4)}};
    for (const auto& step : steps) {
        clock.Advance(clock.LastPeriod() + step.wokenLate);
        ASSERT_TRUE(clock.StepAndSettle());
        EXPECT_EQ(clock.LastPeriod(), step.nextWait) << "after cycle " << cycles.load();
    }
}

// Each run holds a session of its own, begun and ended on the worker thread.
TEST(PeriodicThread, EachRunHoldsASessionOnItsOwnThread)
{
    struct Sessions final : platform::IThreadSessions {
        struct Session final : platform::IThreadSession {
            Session(Sessions& owner) : owner(owner), thread(std::this_thread::get_id()) { ++owner.open; }
            ~Session() override
            {
                owner.endedOnItsThread += thread == std::this_thread::get_id();
                --owner.open;
            }
            Sessions& owner;
            std::thread::id thread;
        };
        std::unique_ptr<platform::IThreadSession> Begin() noexcept override { return std::make_unique<Session>(*this); }
        std::atomic<int> open{0};
        std::atomic<int> endedOnItsThread{0};
    } sessions;
    SteppedClock clock;
    ThermalThread thread(clock, std::chrono::milliseconds(3000), [] {}, sessions);
    for (int run = 1; run <= 2; ++run) {
        thread.Start();
        ASSERT_TRUE(clock.WaitForWaiters(1));
        EXPECT_EQ(sessions.open.load(), 1);
        thread.StopAndWait();
        EXPECT_EQ(sessions.open.load(), 0);
        EXPECT_EQ(sessions.endedOnItsThread.load(), run);
    }
}

TEST(ThermalHue, FollowsTheColourRuleBetweenItsClamps)
{
    EXPECT_FLOAT_EQ(ThermalHue(15), 0.333f);
    EXPECT_FLOAT_EQ(ThermalHue(20), 0.333f);
    EXPECT_FLOAT_EQ(ThermalHue(INT32_MIN), 0.333f);
    EXPECT_FLOAT_EQ(ThermalHue(40), 0.1665f);
    EXPECT_EQ(ThermalHue(45), static_cast<float>(0.333 - 25 * 0.333 / 40));
    EXPECT_FLOAT_EQ(ThermalHue(45), 0.124875f);
    EXPECT_EQ(ThermalHue(60), 0.0f);
    EXPECT_EQ(ThermalHue(75), 0.0f);
    EXPECT_EQ(ThermalHue(INT32_MAX), 0.0f);
}

} // namespace
} // namespace ovled
