#include "audio/CaptureTimer.h"

#include <gtest/gtest.h>

namespace ovled {
namespace {

TEST(CaptureTimer, FiresAtHalfTheDevicePeriodInWholeMilliseconds)
{
    EXPECT_EQ(CaptureTimerFor(100000).dueTime, -50000);
    EXPECT_EQ(CaptureTimerFor(100000).periodMs, 5);
    EXPECT_EQ(CaptureTimerFor(30000).dueTime, -15000);
    EXPECT_EQ(CaptureTimerFor(30000).periodMs, 1);
    EXPECT_EQ(CaptureTimerFor(100001).dueTime, -50000) << "truncating division";
    EXPECT_EQ(CaptureTimerFor(19999).periodMs, 0);
    // The period comes from the low 32 bits of the device period only.
    const std::int64_t huge = (std::int64_t{1} << 32) + 100000;
    EXPECT_EQ(CaptureTimerFor(huge).dueTime, -(huge / 2));
    EXPECT_EQ(CaptureTimerFor(huge).periodMs, 5);
}

} // namespace
} // namespace ovled
