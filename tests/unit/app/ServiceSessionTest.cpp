#include "app/ServiceSession.h"

#include "FakeLighting.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ovled::app::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using Clock = ServiceSession::Clock;

constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154u);
constexpr HResult kAccessDenied = static_cast<HResult>(0x80070005u);
constexpr HResult kServerDied = static_cast<HResult>(0x80010007u);
constexpr HResult kTimeout = static_cast<HResult>(0x8001011Fu);
constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057u);

class ServiceSessionTest : public ::testing::Test {
protected:
    void Round(std::vector<Command> commands = {}, bool colours = false)
    {
        session.Round(commands, colours, false, now);
        now += std::chrono::milliseconds(100);
    }
    std::vector<std::wstring> TakeCalls() { return std::exchange(board.calls, {}); }

    FakeBoard board;
    FakeConnector connector{board};
    ServiceSession session{connector};
    Clock::time_point now = Clock::time_point(std::chrono::hours(1));
};

TEST_F(ServiceSessionTest, ReadsEverythingOnceThenOnlyTheChangeCountOrTheColours)
{
    board.colours = {0x0000FF, 0x00FF00, -1};
    board.stripsOn = false;
    Round();
    ASSERT_EQ(session.Current().status, ServiceStatus::Running);
    const LightingState& state = session.Current().state;
    ASSERT_EQ(state.devices.size(), 3u);
    EXPECT_EQ(state.devices[0], (DeviceState{kOnboardDevice, 0, L"Onboard zone", 2, true, 0x0000FF}));
    EXPECT_EQ(state.devices[2], (DeviceState{1, 1, L"Strip 1", 0, false, -1}));
    EXPECT_EQ(state.nightStart, L"23:00");
    EXPECT_THAT(TakeCalls(), Contains(L"ChangeCount").Times(1)) << "a full read asks for the count once";

    Round(); // hidden: one call a round
    EXPECT_THAT(TakeCalls(), ElementsAre(L"ChangeCount"));
    board.colours[1] = 0x123456;
    Round({}, true); // visible: the colours too
    EXPECT_THAT(TakeCalls(), ElementsAre(L"ChangeCount", L"DeviceColour", L"DeviceColour", L"DeviceColour"));
    EXPECT_EQ(session.Current().state.devices[1].colour, 0x123456);

    board.modes.push_back(1); // another client added a strip's worth of change
    board.colours.push_back(-1);
    ++board.changeCount;
    Round();
    EXPECT_EQ(session.Current().state.devices.size(), 4u);
}

TEST_F(ServiceSessionTest, ChangesAreAppliedInOrderAndReadBack)
{
    Round();
    TakeCalls();
    board.stripsOn = false;
    Round({Command{Command::Kind::SetMode, 0, 1}, Command{Command::Kind::LightsOff, 0, 60}});
    EXPECT_TRUE(board.stripsOn) << "storing a strip's mode switches the strips on";
    EXPECT_EQ(board.lightsOffMinutes, 60);
    EXPECT_FALSE(session.Current().state.lightsOn);
    EXPECT_EQ(session.Current().state.offReasons, kOffReasonLightsOff);

    Round({Command{Command::Kind::AllModes, 0, 2}});
    EXPECT_THAT(board.modes, ElementsAre(2, 2, 2));

    Round({Command{Command::Kind::SetBrightness, 0, 150}});
    EXPECT_EQ(session.Current().refused, kInvalidArg);
    EXPECT_EQ(session.Current().status, ServiceStatus::Running);
    Round({Command{Command::Kind::SetBrightness, 0, 50}});
    EXPECT_EQ(session.Current().refused, kSOk);
    EXPECT_EQ(session.Current().state.brightness, 50);

    board.failNext = kServerDied;
    Round({Command{Command::Kind::SetBrightness, 0, 60}});
    EXPECT_EQ(session.Current().refused, kServerDied) << "a change the server went away with";
}

struct StatusRow {
    ServiceState state;
    HResult connect;
    ServiceStatus expected;
    bool connects;
};

TEST_F(ServiceSessionTest, StatusComesFromTheControlManagerAndTheConnection)
{
    const StatusRow rows[] = {
        {ServiceState::Running, kSOk, ServiceStatus::Running, true},
        {ServiceState::Stopped, kSOk, ServiceStatus::Stopped, false},
        {ServiceState::StopPending, kSOk, ServiceStatus::Stopped, false},
        {ServiceState::StartPending, kSOk, ServiceStatus::Starting, false},
        {ServiceState::NotInstalled, kClassNotRegistered, ServiceStatus::NotInstalled, true},
        {ServiceState::NotInstalled, kSOk, ServiceStatus::Running, true}, // an on-demand COM server
        {ServiceState::Running, kAccessDenied, ServiceStatus::AccessDenied, true},
        {ServiceState::Running, kTimeout, ServiceStatus::NotAnswering, true},
        {ServiceState::Unknown, kInvalidArg, ServiceStatus::Failed, true},
    };
    for (const StatusRow& row : rows) {
        FakeConnector fresh(board);
        fresh.state = row.state;
        fresh.connectResult = row.connect;
        ServiceSession session(fresh);
        session.Round({}, false, false, now);
        EXPECT_EQ(session.Current().status, row.expected) << static_cast<int>(row.state) << " " << row.connect;
        EXPECT_EQ(fresh.connects, row.connects ? 1 : 0) << static_cast<int>(row.state) << " " << row.connect;
    }
}

TEST_F(ServiceSessionTest, AServerThatWentAwayIsLookedForOnceASecondAndReconnectedByItself)
{
    board.colours = {0x0000FF, -1, -1};
    Round();
    board.failNext = kServerDied;
    connector.state = ServiceState::Stopped;
    Round();
    EXPECT_EQ(session.Current().status, ServiceStatus::Stopped);
    EXPECT_FALSE(session.Connected());
    EXPECT_TRUE(session.Current().known) << "the window keeps what it knew";
    EXPECT_EQ(session.Current().state.devices[0].colour, 0x0000FF);

    const int queries = connector.queries;
    Round({Command{Command::Kind::LightsOff, 0, 60}});
    EXPECT_NE(session.Current().refused, kSOk) << "a change that found no service says so";
    for (int i = 0; i < 8; ++i)
        Round(); // 0.9 s
    EXPECT_EQ(connector.queries, queries + 1);
    EXPECT_EQ(connector.connects, 1) << "a stopped service is not started by the app";

    connector.state = ServiceState::Running;
    for (int i = 0; i < 10; ++i)
        Round();
    EXPECT_EQ(session.Current().status, ServiceStatus::Running);
    EXPECT_EQ(connector.connects, 2);
    EXPECT_THAT(board.calls, Not(Contains(L"LightsOff"))) << "a change asked for while away is not replayed";
}

TEST_F(ServiceSessionTest, AFailedActivationIsTriedAgainEveryFiveSeconds)
{
    connector.state = ServiceState::NotInstalled;
    connector.connectResult = kClassNotRegistered;
    for (int i = 0; i < 50; ++i)
        Round(); // 5 s
    EXPECT_EQ(connector.connects, 1);
    Round();
    EXPECT_EQ(connector.connects, 2);
}

} // namespace
} // namespace ovled::app::test
