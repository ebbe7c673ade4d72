// Several threads on one registry, one embedded controller and one configuration file, as the
// power-event thread, the thermal thread and the music colour thread use them in the service.
#include "hardware/BiosItemRegistry.h"
#include "hardware/EcPort.h"
#include "hardware/ItemIds.h"
#include "lighting/LedConfigFile.h"
#include "simulator/VirtualBoard.h"
#include "tests/support/SteppedClock.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace ovled {
namespace {

constexpr int kThreads = 4;

template <class Body>
void RunTogether(Body body)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(body, t);
    for (auto& thread : threads)
        thread.join();
}

TEST(HardwareConcurrency, GroupsLoadOnceWhateverTheNumberOfCallers)
{
    sim::VirtualBoard board;
    BiosItemRegistry registry(board);
    RunTogether([&](int t) {
        for (int i = 0; i < 50; ++i) {
            EXPECT_TRUE(registry.Exists(t % 2 ? items::kStripColor : 0x06030003));
            EXPECT_NE(registry.Get(items::kOnboardEffect), nullptr);
        }
    });
    EXPECT_EQ(board.Model().GetCounters().calls[static_cast<int>(sim::Method::GGrp)], 2u);
}

TEST(HardwareConcurrency, RegisterAccessesNeverInterleave)
{
    sim::VirtualBoard board;
    test::SteppedClock clock;
    EcPort port(board, clock);
    RunTogether([&](int t) {
        for (int i = 0; i < 100; ++i) {
            port.WriteRegister(t, 0x70 + t, i);
            EXPECT_EQ(port.ReadRegister(t, 0x70 + t), i);
        }
    });
    // Every register write sits right after the bank select of its own access.
    const auto trace = board.Model().Trace();
    ASSERT_FALSE(trace.empty());
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if ((trace[i].target & 0xFF) == ec::kBankRegister)
            continue;
        ASSERT_GT(i, 0u);
        EXPECT_EQ(trace[i - 1].target & 0xFF, ec::kBankRegister);
        EXPECT_EQ(trace[i - 1].value, trace[i].target >> 8);
    }
}

TEST(HardwareConcurrency, ConfigurationWritesAreNeverLost)
{
    test::TempFolder folder;
    LedConfigFile file(folder / "lightingControl.xml");
    RunTogether([&](int t) {
        for (int i = 0; i <= 20; ++i)
            file.SetLedMode(t, i * 100 + t);
    });
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(file.GetLedMode(t), 2000 + t);
}

} // namespace
} // namespace ovled
