#include "audio/MusicEffectDriver.h"
#include "audio/SyntheticCapture.h"
#include "tests/support/SteppedClock.h"
#include "tests/support/AudioTestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

namespace ovled {
namespace {

using test::HandCapture;
using test::RecordingColourOutput;
using test::RecordingDebugOutput;
using test::SteppedClock;

constexpr SyntheticFormat kStereo480{48000, 2, 480};

class Driver : public ::testing::Test {
protected:
    Driver()
    {
        auto ownedCapture = std::make_unique<HandCapture>();
        auto ownedOutput = std::make_unique<RecordingColourOutput>();
        capture = ownedCapture.get();
        output = ownedOutput.get();
        driver = std::make_unique<MusicEffectDriver>(std::move(ownedCapture), std::move(ownedOutput), clock);
    }
    test::ColourTick Tick()
    {
        EXPECT_TRUE(clock.StepAndSettle());
        return output->Last();
    }

    RecordingDebugOutput debug;
    SteppedClock clock;
    HandCapture* capture = nullptr;
    RecordingColourOutput* output = nullptr;
    std::unique_ptr<MusicEffectDriver> driver;
};

TEST_F(Driver, StartStartStopRunsOneCaptureAndOneColourThreadAndStopsBoth)
{
    driver->Start();
    driver->Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    EXPECT_EQ(clock.Waiters(), 1);
    EXPECT_EQ(capture->Starts(), 1);
    EXPECT_TRUE(driver->IsRunning());

    driver->Stop();
    EXPECT_EQ(capture->Stops(), 1);
    EXPECT_FALSE(driver->IsRunning());
    EXPECT_TRUE(clock.WaitUntilNoWaiters()) << "the colour thread ends at its wait";
    driver->Stop();
    EXPECT_EQ(capture->Stops(), 1);
}

TEST_F(Driver, StopOnAFreshDriverDoesNothing)
{
    driver->Stop();
    EXPECT_EQ(capture->Stops(), 0);
    EXPECT_EQ(capture->Starts(), 0);
    EXPECT_FALSE(driver->IsRunning());
}

TEST_F(Driver, EnablingTwiceAndDisablingOnceLeavesTheDeviceDisabled)
{
    driver->EnableDevice(-1);
    driver->EnableDevice(-1);
    driver->EnableDevice(3);
    driver->DisableDevice(-1);
    driver->DisableDevice(9);
    EXPECT_EQ(driver->Effect().EnabledDeviceSet(), (std::set<int>{3}));
}

TEST_F(Driver, CapturedPacketsBecomeTheColourOfTheEnabledDevices)
{
    driver->EnableDevice(-1);
    driver->EnableDevice(0);
    driver->Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    capture->Play(TonePacket(kStereo480, 100.0, 1.0), 480, 2);
    const auto tick = Tick();
    EXPECT_EQ(tick.colour, (Rgb{128, 0, 0}));
    EXPECT_EQ(tick.devices, (std::vector<int>{-1, 0}));
}

TEST_F(Driver, WithEveryDeviceDisabledTheColourIsStillComputedAndLogged)
{
    driver->EnableDevice(1);
    driver->Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    driver->DisableDevice(1);
    capture->Play(TonePacket(kStereo480, 100.0, 1.0), 480, 2);
    EXPECT_TRUE(Tick().devices.empty());
    EXPECT_EQ(Tick().colour, (Rgb{191, 0, 0}));
    EXPECT_EQ(debug.Lines().size(), 2u);
}

TEST_F(Driver, ARestartBeginsFromBlackWithTheBandsOfTheLastPacket)
{
    driver->Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    capture->Play(TonePacket(kStereo480, 100.0, 1.0), 480, 2);
    for (int i = 0; i < 10; ++i)
        Tick();
    ASSERT_EQ(output->Last().colour, (Rgb{255, 0, 0}));
    driver->Stop();
    driver->Start(); // no pause needed between the two
    ASSERT_TRUE(clock.WaitForWaiters(1));
    EXPECT_EQ(capture->Starts(), 2);
    EXPECT_EQ(Tick().colour, (Rgb{128, 0, 0}));
    EXPECT_EQ(clock.Waiters(), 1);
}

TEST_F(Driver, WhenCaptureDeliversNothingTheDevicesAreWrittenBlack)
{
    driver->EnableDevice(-1);
    driver->Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    for (int i = 0; i < 3; ++i) {
        const auto tick = Tick();
        EXPECT_EQ(tick.colour, (Rgb{0, 0, 0}));
        EXPECT_EQ(tick.devices, (std::vector<int>{-1}));
    }
}

TEST_F(Driver, OperationsFromSeveralThreadsNeverOverlap)
{
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([this, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            for (int i = 0; i < 200; ++i) {
                switch (random() % 4) {
                case 0:
                    driver->Start();
                    break;
                case 1:
                    driver->Stop();
                    break;
                case 2:
                    driver->EnableDevice(static_cast<int>(random() % 3) - 1);
                    break;
                default:
                    driver->DisableDevice(static_cast<int>(random() % 3) - 1);
                    break;
                }
            }
        });
    }
    for (auto& caller : callers)
        caller.join();
    driver->Stop();
    EXPECT_EQ(capture->Overlaps(), 0);
    EXPECT_EQ(capture->Starts(), capture->Stops());
    EXPECT_TRUE(clock.WaitUntilNoWaiters());
}

TEST(SyntheticCapture, PlaysOnePacketPerPeriodUntilStopped)
{
    SteppedClock clock;
    SyntheticCapture source(clock, kStereo480, ToneGenerator(kStereo480, 100.0, 0.5));
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> packets;
    source.SetDataCallback(
        [&](const std::uint8_t* data, std::uint32_t frames, std::uint32_t flags, std::uint16_t channels) {
            EXPECT_EQ(frames, 480u);
            EXPECT_EQ(flags, 0u);
            EXPECT_EQ(channels, 2);
            std::lock_guard lock(mutex);
            packets.emplace_back(data, data + frames * channels * 2);
        });
    source.Start();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    EXPECT_EQ(clock.LastPeriod(), std::chrono::milliseconds(10));
    ASSERT_TRUE(clock.StepAndSettle());
    ASSERT_TRUE(clock.StepAndSettle());
    source.Stop();
    EXPECT_EQ(clock.Waiters(), 0) << "Stop returns once the source's thread has ended";
    EXPECT_EQ(source.PacketsPlayed(), 2u);
    ASSERT_EQ(packets.size(), 2u);
    // 100 Hz at 48000 Hz repeats every 480 frames: both packets hold the same samples.
    EXPECT_EQ(packets[0], TonePacket(kStereo480, 100.0, 0.5));
    EXPECT_EQ(packets[1], packets[0]);
}

} // namespace
} // namespace ovled
