// IWaitClock: the time base of the service's periodic work (the colour thread's 10 ms tick, the thermal
// thread's 3000 ms cycle, the manager's settling pause, the protocols' pauses). The system clock really
// waits; tests install a stepped clock whose time moves only when they let a wait end, so they release one
// cycle at a time without sleeping.
#pragma once

#include "platform/Event.h"

#include <chrono>

namespace ovled::platform {

class IWaitClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~IWaitClock() = default;
    virtual TimePoint Now() = 0;
    // Waits until `deadline` for `stop`. Returns true when `stop` was signalled (and consumes it), false
    // when the deadline passed (at once when it lies in the past).
    virtual bool WaitUntil(AutoResetEvent& stop, TimePoint deadline) = 0;
    // A plain pause of the calling thread.
    virtual void Sleep(std::chrono::milliseconds duration) = 0;

    bool WaitFor(AutoResetEvent& stop, std::chrono::milliseconds period) { return WaitUntil(stop, Now() + period); }
};

// The real clock: the steady clock; waits and sleeps for the time asked.
IWaitClock& SystemClock();

// Minutes after local midnight now, by the system's clock and time zone (daylight saving included).
int LocalMinutesOfDay() noexcept;

// Asks the system for timers of 1 ms resolution for the life of the object (Windows runs its timers at
// 15.6 ms unless a process asks, which would stretch a 10 ms tick to 15.6 ms); nothing on other hosts.
class FineTimerResolution {
public:
    FineTimerResolution() noexcept;
    ~FineTimerResolution();
    FineTimerResolution(const FineTimerResolution&) = delete;
    FineTimerResolution& operator=(const FineTimerResolution&) = delete;

private:
    bool m_granted = false;
};

} // namespace ovled::platform
