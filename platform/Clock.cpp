#include "platform/Clock.h"

#include <thread>

namespace ovled::platform {
namespace {

class RealClock final : public IWaitClock {
public:
    bool WaitFor(AutoResetEvent& stop, std::chrono::milliseconds period) override { return stop.WaitFor(period); }
    void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

} // namespace

IWaitClock& SystemClock()
{
    static RealClock clock;
    return clock;
}

} // namespace ovled::platform
