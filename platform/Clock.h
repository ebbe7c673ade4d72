// IWaitClock: the time base of the service's periodic work (the thermal thread's 3000 ms cycle, the
// manager's settling pause). The system clock really waits; tests install a stepped clock that lets
// them release one cycle at a time without sleeping.
#pragma once

#include "platform/Event.h"

#include <chrono>

namespace ovled::platform {

class IWaitClock {
public:
    virtual ~IWaitClock() = default;
    // Waits up to `period` for `stop`. Returns true when `stop` was signalled (and consumes it), false
    // when the period ran out.
    virtual bool WaitFor(AutoResetEvent& stop, std::chrono::milliseconds period) = 0;
    // A plain pause of the calling thread.
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The real clock: waits and sleeps for the time asked.
IWaitClock& SystemClock();

} // namespace ovled::platform
