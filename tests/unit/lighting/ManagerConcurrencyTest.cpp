// Mode changes from several client threads against a fast-cycling thermal thread. Run under TSan in
// the host-tsan build; in the other builds it checks the invariants that races would break.
#include "lighting/LightingManager.h"
#include "tests/support/FakeDevices.h"
#include "tests/support/SteppedClock.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <random>
#include <thread>

namespace ovled {
namespace {

using test::FakeBoard;
using test::LiveThreadClock;
using test::TempFolder;

TEST(ManagerConcurrency, ClientThreadsAndTheThermalThreadKeepTheModesConsistent)
{
    TempFolder folder;
    const auto path = folder / "Lighting.xml";
    FakeBoard board(3);
    // Cycles as long as their period: stops often arrive while the thread is inside a cycle.
    board.SetReadCost(std::chrono::milliseconds(1));
    LightingSettings settings(path);
    LiveThreadClock clock(std::chrono::milliseconds(1));
    LightingManager::Timing timing;
    timing.thermalPeriod = std::chrono::milliseconds(1);
    timing.settleDelay = std::chrono::milliseconds(0);
    timing.applyOnOwnThread = true; // as in the service
    LightingManager manager(settings, board, board, clock, timing);

    constexpr int kThreads = 4;
    constexpr int kChanges = 150;
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([&manager, t] {
            std::mt19937 random(static_cast<unsigned>(t + 1));
            std::uniform_int_distribution<int> index(-3, 3);
            std::uniform_int_distribution<int> mode(0, 2);
            for (int i = 0; i < kChanges; ++i) {
                manager.SetModeByIndex(index(random), mode(random));
                (void)manager.GetModeByIndex(index(random));
            }
        });
    }
    for (auto& client : clients)
        client.join();
    ASSERT_TRUE(manager.WaitUntilApplied());

    EXPECT_LE(clock.MaxAlive(), 1u) << "two thermal threads ran at once";

    // The file on disk is whole and agrees with what the manager answers.
    LightingSettings reread(path);
    EXPECT_EQ(manager.GetModeByIndex(-1), reread.GetMode());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(manager.GetModeByIndex(i), reread.GetExternalMode(i));

    // The thermal thread runs exactly when an enabled device is in thermal mode.
    bool thermalWanted = reread.IsEnabled() && reread.GetMode() == 2;
    for (int i = 0; i < 3; ++i)
        thermalWanted = thermalWanted || (reread.GetExternalEnable(0) == 1 && reread.GetExternalMode(i) == 2);
    EXPECT_EQ(manager.IsThermalRunning(), thermalWanted);
}

// An apply that hangs (a firmware call, a thread that does not end) holds up neither a read nor an
// unrelated set from another client; the set is applied once the apply is free again.
TEST(ManagerConcurrency, NoCallerWaitsBehindAnApplyThatHangs)
{
    TempFolder folder;
    FakeBoard board(2);
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool stuck = false;
    bool open = false;
    board.Calls().OnAdd([&](const std::string& entry) {
        if (entry != "music: Start")
            return;
        std::unique_lock gate(gateMutex);
        stuck = true;
        gateChanged.notify_all();
        gateChanged.wait(gate, [&] { return open; });
    });
    auto release = [&] {
        std::lock_guard gate(gateMutex);
        open = true;
        gateChanged.notify_all();
    };
    LightingSettings settings(folder / "Lighting.xml");
    test::SteppedClock clock;
    LightingManager::Timing timing;
    timing.applyOnOwnThread = true;
    LightingManager manager(settings, board, board, clock, timing);

    manager.SetModeByIndex(0, kModeMusic);
    {
        std::unique_lock gate(gateMutex);
        ASSERT_TRUE(gateChanged.wait_for(gate, std::chrono::seconds(10), [&] { return stuck; }));
    }
    auto others = std::async(std::launch::async, [&] {
        const int read = manager.GetModeByIndex(0);
        manager.SetModeByIndex(1, kModeThermal);
        return read;
    });
    const bool answered = others.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const bool stillStuck = !manager.WaitUntilApplied(std::chrono::milliseconds(0));
    release();
    ASSERT_TRUE(answered) << "a read and a set waited for the apply";
    EXPECT_EQ(others.get(), kModeMusic);
    EXPECT_TRUE(stillStuck);
    ASSERT_TRUE(manager.WaitUntilApplied());
    EXPECT_TRUE(manager.IsThermalRunning()) << "the set made meanwhile was applied";
}

TEST(ManagerConcurrency, ThermalThreadNeverOutlivesAStopAndRestart)
{
    TempFolder folder;
    FakeBoard board(1);
    board.SetReadCost(std::chrono::milliseconds(1));
    LightingSettings settings(folder / "Lighting.xml");
    LiveThreadClock clock(std::chrono::milliseconds(1));
    LightingManager::Timing timing;
    timing.thermalPeriod = std::chrono::milliseconds(1);
    timing.settleDelay = std::chrono::milliseconds(0);
    {
        LightingManager manager(settings, board, board, clock, timing);
        for (int i = 0; i < 200; ++i)
            manager.SetModeByIndex(0, i % 2 == 0 ? 2 : 0);
        EXPECT_LE(clock.MaxAlive(), 1u);
    }
    EXPECT_EQ(clock.Alive(), 0u) << "the manager's destruction ends its thread";
}

} // namespace
} // namespace ovled
