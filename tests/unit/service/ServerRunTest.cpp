#include "service/ServerRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ovled::service {
namespace {

using ::testing::ElementsAre;

constexpr HResult kNotRegistered = static_cast<HResult>(0x80040154u);
constexpr HResult kResumeFailure = static_cast<HResult>(0x8000FFFFu);

class FakeRuntime final : public IServerRuntime {
public:
    HResult RegisterClassObjects() override
    {
        calls.push_back("register");
        return registerResult;
    }
    HResult ResumeClassObjects() override
    {
        calls.push_back("resume");
        return resumeResult;
    }
    HResult RevokeClassObjects() override
    {
        calls.push_back("revoke");
        return revokeResult;
    }
    bool StartShutdownMonitor() override
    {
        calls.push_back("monitor");
        return monitorStarts;
    }
    void StopShutdownMonitor(std::chrono::milliseconds wait) override
    {
        calls.push_back("stop monitor " + std::to_string(wait.count()));
    }
    void DetachShutdownMonitor() override { calls.push_back("detach monitor"); }
    void ReportRunning() override { calls.push_back("running"); }
    void RunMessageLoop() override { calls.push_back("loop"); }
    void Pause(std::chrono::milliseconds duration) override
    {
        calls.push_back("pause " + std::to_string(duration.count()));
    }

    std::vector<std::string> calls;
    HResult registerResult = kSOk;
    HResult resumeResult = kSOk;
    HResult revokeResult = kSOk;
    bool monitorStarts = true;
};

TEST(RunServer, ALocalServerRunsItsMonitorAndPausesAfterRevoking)
{
    FakeRuntime runtime;
    bool delayShutdown = true;
    EXPECT_EQ(RunServer(runtime, delayShutdown), kSOk);
    EXPECT_THAT(runtime.calls, ElementsAre("register", "monitor", "running", "resume", "detach monitor", "loop",
                                           "revoke", "pause 1000"));
}

TEST(RunServer, AServiceRunsWithoutMonitorOrPause)
{
    FakeRuntime runtime;
    bool delayShutdown = false;
    EXPECT_EQ(RunServer(runtime, delayShutdown), kSOk);
    EXPECT_THAT(runtime.calls, ElementsAre("register", "running", "resume", "loop", "revoke"));
}

TEST(RunServer, TheRevocationResultIsTheRunsResult)
{
    FakeRuntime runtime;
    runtime.revokeResult = kEFail;
    bool delayShutdown = false;
    EXPECT_EQ(RunServer(runtime, delayShutdown), kEFail);
}

TEST(RunServer, NothingToServeMeansNoLoopAndNoDelayedShutdown)
{
    FakeRuntime runtime;
    runtime.registerResult = kSFalse;
    bool delayShutdown = true;
    EXPECT_EQ(RunServer(runtime, delayShutdown), kSOk);
    EXPECT_FALSE(delayShutdown);
    EXPECT_THAT(runtime.calls, ElementsAre("register", "revoke"));
}

TEST(RunServer, ARegistrationFailureIsReturnedBeforeAnythingIsReported)
{
    FakeRuntime runtime;
    runtime.registerResult = kNotRegistered;
    bool delayShutdown = true;
    EXPECT_EQ(RunServer(runtime, delayShutdown), kNotRegistered);
    EXPECT_THAT(runtime.calls, ElementsAre("register"));
}

TEST(RunServer, AMonitorThatCannotStartRevokesAndFails)
{
    FakeRuntime runtime;
    runtime.monitorStarts = false;
    bool delayShutdown = true;
    EXPECT_EQ(RunServer(runtime, delayShutdown), kEFail);
    EXPECT_THAT(runtime.calls, ElementsAre("register", "monitor", "revoke"));
}

TEST(RunServer, AResumeFailureAfterTheRunningReportStopsTheMonitorAndRevokes)
{
    FakeRuntime runtime;
    runtime.resumeResult = kResumeFailure;
    bool delayShutdown = true;
    EXPECT_EQ(RunServer(runtime, delayShutdown), kResumeFailure);
    EXPECT_THAT(runtime.calls, ElementsAre("register", "monitor", "running", "resume", "stop monitor 10000",
                                           "detach monitor", "revoke"));

    FakeRuntime service;
    service.resumeResult = kResumeFailure;
    delayShutdown = false;
    EXPECT_EQ(RunServer(service, delayShutdown), kResumeFailure);
    EXPECT_THAT(service.calls, ElementsAre("register", "running", "resume", "revoke"));
}

} // namespace
} // namespace ovled::service
