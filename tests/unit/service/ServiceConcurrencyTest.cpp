#include "tests/unit/service/FakeServiceHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace ovled::service {
namespace {

using test::FakeServiceHost;

// The stop handler (main thread) and the running report (service thread) race; whichever wins, the
// last report the manager sees must be the state the service is really in.
TEST(ServiceControllerConcurrency, ReportsReachTheManagerInTheOrderOfTheStateChanges)
{
    for (int round = 0; round < 500; ++round) {
        FakeServiceHost host;
        ServiceController controller(host);
        controller.SetServiceState(kServiceStartPending);
        std::atomic<int> ready{0};
        auto together = [&ready] {
            ++ready;
            while (ready.load() < 2) {
            }
        };
        std::thread running([&] {
            together();
            controller.ReportRunning();
        });
        std::thread stopping([&] {
            together();
            controller.RequestStop();
        });
        running.join();
        stopping.join();
        const auto states = host.ReportedStates();
        ASSERT_FALSE(states.empty());
        ASSERT_EQ(states.back(), controller.CurrentState()) << "round " << round;
        ASSERT_EQ(controller.CurrentState(), kServiceStopPending);
    }
}

} // namespace
} // namespace ovled::service
