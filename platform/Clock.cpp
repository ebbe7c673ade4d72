#include "platform/Clock.h"

#include <thread>

namespace ovled::platform {
namespace {

class RealClock final : public IWaitClock {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    bool WaitUntil(AutoResetEvent& stop, TimePoint deadline) override { return stop.WaitUntil(deadline); }
    void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

} // namespace

IWaitClock& SystemClock()
{
    static RealClock clock;
    return clock;
}

} // namespace ovled::platform
