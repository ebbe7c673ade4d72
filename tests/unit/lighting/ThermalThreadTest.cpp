#include "lighting/ThermalEffect.h"
#include "tests/support/SteppedClock.h"

#include <gtest/gtest.h>

#include <atomic>

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
