#include "app/ServiceWorker.h"

#include "FakeLighting.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

namespace ovled::app::test {
namespace {

using ::testing::Contains;
using ::testing::Not;
using Clock = ServiceWorker::Clock;

TEST(ServiceWorker, ACallPastTheTimeLimitShowsAsNotAnsweringAndWaitingChangesCollapse)
{
    FakeBoard board;
    board.SetGate(false);
    auto connector = std::make_unique<FakeConnector>(board);
    // The second snapshot is the one after the changes: the first answers the round that was stuck.
    std::promise<void> secondSnapshot;
    int snapshots = 0;
    {
        ServiceWorker worker(std::move(connector), [&] {
            if (++snapshots == 2)
                secondSnapshot.set_value();
        });
        worker.Begin();
        board.WaitUntilEntered(1); // the first round's first call waits at the gate
        worker.Post(Command{Command::Kind::SetBrightness, 0, 10});
        worker.Post(Command{Command::Kind::LightsOff, 0, 60});
        worker.Post(Command{Command::Kind::SetBrightness, 0, 30});

        const Clock::time_point now = Clock::now();
        EXPECT_EQ(worker.Check(now).status, ServiceStatus::Connecting);
        EXPECT_EQ(worker.Check(now + std::chrono::seconds(3)).status, ServiceStatus::NotAnswering);

        board.SetGate(true); // the service answers again
        secondSnapshot.get_future().wait();
        EXPECT_EQ(worker.Check(Clock::now()).status, ServiceStatus::Running);
    }
    EXPECT_EQ(board.brightness, 30);
    EXPECT_EQ(board.lightsOffMinutes, 60);
    EXPECT_THAT(board.calls, Contains(L"SetBrightness").Times(1)) << "the slider's first value was dropped";
}

TEST(ServiceWorker, ClosingDoesNotWaitForACallThatNeverReturns)
{
    FakeBoard board;
    board.SetGate(false);
    // The thread's end is seen through the connector, which the thread owns to its last step.
    class Deaf final : public ILightingConnector {
    public:
        Deaf(std::unique_ptr<FakeConnector> inner, std::shared_ptr<std::promise<void>> ended)
            : m_inner(std::move(inner)), m_ended(std::move(ended))
        {
        }
        void ThreadStarted() noexcept override {}
        void ThreadEnding() noexcept override { m_ended->set_value(); }
        ServiceState QueryServiceState() noexcept override { return ServiceState::Running; }
        HResult Connect(std::unique_ptr<ILightingService>& s) noexcept override { return m_inner->Connect(s); }

    private:
        std::unique_ptr<FakeConnector> m_inner;
        std::shared_ptr<std::promise<void>> m_ended;
    };
    auto ended = std::make_shared<std::promise<void>>();
    std::future<void> threadEnded = ended->get_future();
    auto worker = std::make_unique<ServiceWorker>(
        std::make_unique<Deaf>(std::make_unique<FakeConnector>(board), ended), nullptr);
    worker->Begin();
    board.WaitUntilEntered(1);
    worker.reset(); // returns after the time limit, leaving the thread in its call
    EXPECT_THAT(board.calls, Not(Contains(L"ChangeCount")));
    board.SetGate(true); // the thread left behind ends on its own, with everything it uses
    threadEnded.wait();
}

} // namespace
} // namespace ovled::app::test
