// The capture thread's polling timer: it first fires half a device period after the stream starts and
// then every half period, in whole milliseconds. The due time is relative, in 100-ns units (negative);
// the period is computed from the low 32 bits of the device period taken as a signed value, so a 10 ms
// period gives -50000 and 5 ms, a 3 ms period -15000 and 1 ms. Pure arithmetic; any thread.
#pragma once

#include <cstdint>

namespace ovled {

struct CaptureTimerSchedule {
    std::int64_t dueTime; // 100-ns units, negative: relative to now
    std::int32_t periodMs;
};

constexpr CaptureTimerSchedule CaptureTimerFor(std::int64_t devicePeriod) noexcept
{
    const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(devicePeriod & 0xFFFFFFFF));
    return {-(devicePeriod / 2), low / 2 / 10000};
}

} // namespace ovled
