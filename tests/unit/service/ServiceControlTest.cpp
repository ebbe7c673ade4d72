#include "service/ServiceControl.h"

#include "platform/EventIds.h"
#include "tests/support/SteppedClock.h"
#include "tests/unit/service/FakeServiceHost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace ovled::service {
namespace {

using test::FakeServiceHost;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000Eu);
class ServiceControllerTest : public ::testing::Test {
protected:
    // The run sequence as the module performs it: the class object is registered, ReportRunning is
    // called, and the message loop runs until the quit message.
    void ServeUntilStopped()
    {
        m_host.run = [this] {
            m_controller.ReportRunning();
            m_running.Set();
            EXPECT_TRUE(m_host.WaitForQuit());
            return kSOk;
        };
    }

    FakeServiceHost m_host;
    ServiceController m_controller{m_host};
    platform::AutoResetEvent m_running;
};

TEST_F(ServiceControllerTest, ACleanRunReportsEveryStateInOrderAndEndsWithExitCodeZero)
{
    ServeUntilStopped();
    std::thread serviceThread([this] { m_controller.ServiceEntry(); });
    ASSERT_TRUE(m_running.WaitFor(std::chrono::seconds(10)));
    m_controller.ControlHandler(kControlStop); // the dispatcher runs the handler on another thread
    serviceThread.join();

    EXPECT_THAT(m_host.Calls(), ElementsAre("queue", "handler", "status 2 exit 0", "com init", "run",
                                            "event Service started/resumed", "status 4 exit 0", "status 3 exit 0",
                                            "quit to 42", "com uninit", "event Service stopped", "status 1 exit 0"));
    EXPECT_EQ(m_controller.CurrentState(), kServiceStopped);
    EXPECT_EQ(m_controller.Win32ExitCode(), 0u);
    EXPECT_THAT(m_host.EventIds(), ElementsAre(events::kServiceStarted, events::kServiceStopped));
}

TEST_F(ServiceControllerTest, AStopDuringStartUpIsNeverOverwrittenByRunning)
{
    m_host.run = [this] {
        // The stop arrives after the handler is in place and before the class object is registered.
        std::thread([this] { m_controller.ControlHandler(kControlStop); }).join();
        m_controller.ReportRunning();
        EXPECT_TRUE(m_host.WaitForQuit()) << "the quit posted during start-up ends the loop";
        return kSOk;
    };
    m_controller.ServiceEntry();

    EXPECT_THAT(m_host.ReportedStates(), ElementsAre(kServiceStartPending, kServiceStopPending, kServiceStopped));
    EXPECT_THAT(m_host.Events(), ElementsAre(kEventStopped));
    EXPECT_EQ(m_controller.Win32ExitCode(), 0u);
}

TEST_F(ServiceControllerTest, AStopThatArrivesWhileTheHandlerIsRegisteredIsNotOverwrittenByStartPending)
{
    m_host.onHandlerRegistered = [this] { m_controller.ControlHandler(kControlStop); };
    ServeUntilStopped();
    m_controller.ServiceEntry();

    EXPECT_THAT(m_host.ReportedStates(), ElementsAre(kServiceStopPending, kServiceStopped));
    EXPECT_THAT(m_host.Events(), ElementsAre(kEventStopped));
}

TEST_F(ServiceControllerTest, TheQueueExistsBeforeAStopCanBePosted)
{
    m_controller.ServiceEntry();
    const auto calls = m_host.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "queue");
    EXPECT_EQ(calls[1], "handler");
}

TEST_F(ServiceControllerTest, ARunThatFailsStopsWithItsResultAndNeverReportsRunning)
{
    m_host.run = [] { return kEFail; }; // the class object could not be registered
    m_controller.ServiceEntry();

    EXPECT_THAT(m_host.ReportedStates(), ElementsAre(kServiceStartPending, kServiceStopped));
    EXPECT_THAT(m_host.Events(), ElementsAre(kEventStopped));
    EXPECT_EQ(static_cast<HResult>(m_controller.Win32ExitCode()), kEFail);
}

TEST_F(ServiceControllerTest, AHandlerThatCannotBeRegisteredIsLoggedAndNothingIsReported)
{
    m_host.handlerRegistered = false;
    m_controller.ServiceEntry();

    EXPECT_THAT(m_host.Calls(), ElementsAre("queue", "handler", "event Handler not installed"));
    EXPECT_THAT(m_host.ReportedStates(), IsEmpty());
}

TEST_F(ServiceControllerTest, WithoutComTheServiceStopsWithTheFailureInsteadOfHangingInStartPending)
{
    m_host.comResult = kOutOfMemory;
    m_controller.ServiceEntry();

    EXPECT_THAT(m_host.Calls(), ElementsAre("queue", "handler", "status 2 exit 0", "com init", "event Service stopped",
                                            "status 1 exit " + std::to_string(kOutOfMemory)));
    EXPECT_EQ(static_cast<HResult>(m_controller.Win32ExitCode()), kOutOfMemory);
}

TEST_F(ServiceControllerTest, AnApartmentOwnedByTheManagedRuntimeIsUsedAndLeftAlone)
{
    m_host.comResult = kRpcEChangedMode;
    m_host.mscoreeLoaded = true;
    m_controller.ServiceEntry();
    const auto calls = m_host.Calls();
    EXPECT_THAT(calls, ::testing::Contains("run"));
    EXPECT_THAT(calls, ::testing::Not(::testing::Contains("com uninit")));

    FakeServiceHost plain;
    plain.comResult = kRpcEChangedMode;
    ServiceController controller(plain);
    controller.ServiceEntry();
    EXPECT_THAT(plain.Calls(), ::testing::Not(::testing::Contains("run")));
    EXPECT_EQ(static_cast<HResult>(controller.Win32ExitCode()), kRpcEChangedMode);
}

TEST(ComInit, OnlyAChangedModeUnderTheManagedRuntimeIsTolerated)
{
    EXPECT_EQ(ClassifyComInit(kSOk, false), ComInitOutcome::Initialized);
    EXPECT_EQ(ClassifyComInit(kSFalse, false), ComInitOutcome::Initialized) << "already initialised: balance it";
    EXPECT_EQ(ClassifyComInit(kRpcEChangedMode, true), ComInitOutcome::UseExisting);
    EXPECT_EQ(ClassifyComInit(kRpcEChangedMode, false), ComInitOutcome::Failed);
    EXPECT_EQ(ClassifyComInit(kEFail, true), ComInitOutcome::Failed);
}

TEST_F(ServiceControllerTest, PauseContinueInterrogateAndShutdownChangeNothingOtherCodesAreBadRequests)
{
    for (std::uint32_t control : {2u, 3u, 4u, 5u})
        m_controller.ControlHandler(control);
    EXPECT_THAT(m_host.Calls(), IsEmpty());

    for (std::uint32_t control : {0u, 6u, 255u})
        m_controller.ControlHandler(control);
    EXPECT_THAT(m_host.Events(), ElementsAre(kEventBadRequest, kEventBadRequest, kEventBadRequest));
    EXPECT_THAT(m_host.ReportedStates(), IsEmpty());
    EXPECT_EQ(m_controller.CurrentState(), kServiceStopped);
}

// Any interactive user may send these; 2 000 in 8 s once wrote 2 000 events.
TEST(ServiceControlCodes, UserDefinedCodesAreLoggedAtMostOnceAMinute)
{
    FakeServiceHost host;
    ovled::test::SteppedClock clock;
    ServiceController controller(host, clock);
    for (std::uint32_t i = 0; i < 2000; ++i)
        controller.ControlHandler(kFirstUserControl + i % 128);
    EXPECT_THAT(host.EventIds(), ElementsAre(events::kBadServiceRequest));

    clock.Advance(std::chrono::seconds(59));
    controller.ControlHandler(200);
    EXPECT_EQ(host.Events().size(), 1u);
    clock.Advance(std::chrono::seconds(1));
    controller.ControlHandler(200);
    controller.ControlHandler(0); // not a user's code: logged as ever
    EXPECT_THAT(host.Events(), ElementsAre(kEventBadRequest, kEventBadRequest, kEventBadRequest));
}

TEST_F(ServiceControllerTest, LongEventTextsAreCutTo255Units)
{
    m_controller.LogServiceEvent(events::kServiceStarted, std::wstring(300, L'x'));
    ASSERT_EQ(m_host.Events().size(), 1u);
    EXPECT_EQ(m_host.Events()[0], std::wstring(255, L'x'));
}

} // namespace
} // namespace ovled::service
