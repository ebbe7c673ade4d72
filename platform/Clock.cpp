#include "platform/Clock.h"

#include <ctime>
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

int LocalMinutesOfDay() noexcept
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &now) != 0)
        return 0;
#else
    if (!localtime_r(&now, &local))
        return 0;
#endif
    return local.tm_hour * 60 + local.tm_min;
}

} // namespace ovled::platform
