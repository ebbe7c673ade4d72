#include "audio/AudioEffect.h"
#include "audio/SyntheticCapture.h"
#include "tests/support/SteppedClock.h"
#include "tests/support/AudioTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ovled {
namespace {

using test::RecordingColourOutput;
using test::RecordingDebugOutput;
using test::SteppedClock;

constexpr SyntheticFormat kStereo480{48000, 2, 480};

const std::vector<std::uint8_t>& LoudLowPacket()
{
    static const auto packet = TonePacket(kStereo480, 100.0, 1.0); // low band about 120: energy above 1
    return packet;
}

const std::vector<std::uint8_t>& SilentPacket()
{
    static const std::vector<std::uint8_t> packet(480 * 4);
    return packet;
}

class ColourThread : public ::testing::Test {
protected:
    // Lets one tick run and returns what it wrote.
    test::ColourTick Tick()
    {
        const size_t before = output.Count();
        EXPECT_TRUE(clock.StepAndSettle());
        EXPECT_EQ(output.Count(), before + 1);
        return output.Last();
    }
    void Start()
    {
        effect.StartColorThread();
        ASSERT_TRUE(clock.WaitForWaiters(1));
    }
    void Play(const std::vector<std::uint8_t>& packet) { effect.UpdateBands(packet.data(), 480, 2); }
    // Started in silence and ticked for as long as the thread takes to pause.
    void PauseInSilence()
    {
        Play(SilentPacket());
        Start();
        for (int i = 0; i < kIdleAfterDarkTicks; ++i)
            Tick();
    }

    RecordingDebugOutput debug;
    SteppedClock clock;
    RecordingColourOutput output;
    EasyEffect effect{output, clock};
};

TEST_F(ColourThread, TicksEveryTenMilliseconds)
{
    Start();
    EXPECT_EQ(clock.LastPeriod(), std::chrono::milliseconds(10));
    Tick();
    EXPECT_EQ(clock.LastPeriod(), std::chrono::milliseconds(10));
}

TEST_F(ColourThread, TheFirstLoudTickAfterAStartIsHalfBrightRed)
{
    Play(LoudLowPacket());
    Start();
    EXPECT_EQ(Tick().colour, (Rgb{128, 0, 0}));
    ASSERT_EQ(debug.Lines().size(), 1u);
    EXPECT_EQ(debug.Lines()[0], L"[LED] Red: 128, Green: 0, Blue: 0,  \n");
}

TEST_F(ColourThread, LoudMusicApproachesTheFullySaturatedColour)
{
    Play(LoudLowPacket());
    Start();
    int previous = 0;
    for (int i = 0; i < 12; ++i) {
        const Rgb colour = Tick().colour;
        EXPECT_GE(colour.red, previous);
        previous = colour.red;
    }
    EXPECT_EQ(output.Last().colour, (Rgb{255, 0, 0}));
}

TEST_F(ColourThread, SilenceFadesToBlackInAboutTenTicks)
{
    Play(LoudLowPacket());
    Start();
    for (int i = 0; i < 30; ++i)
        Tick();
    ASSERT_EQ(output.Last().colour, (Rgb{255, 0, 0}));

    Play(SilentPacket());
    int ticks = 0;
    int previous = 255;
    Rgb colour{255, 0, 0};
    while (colour != Rgb{0, 0, 0} && ticks < 20) {
        colour = Tick().colour;
        EXPECT_LT(colour.red, previous) << "the brightness falls every tick";
        EXPECT_EQ(colour.green, 0);
        EXPECT_EQ(colour.blue, 0);
        previous = colour.red;
        ++ticks;
    }
    EXPECT_GE(ticks, 8);
    EXPECT_LE(ticks, 11);
    EXPECT_EQ(Tick().colour, (Rgb{0, 0, 0})) << "and stays black";
}

TEST_F(ColourThread, ASecondOfBlackPausesItUntilSoundComes)
{
    PauseInSilence();
    EXPECT_TRUE(effect.ColorThreadIdle());
    const size_t ticks = output.Count();
    ASSERT_TRUE(clock.StepAndSettle());
    Play(SilentPacket());
    EXPECT_EQ(output.Count(), ticks) << "neither time nor silence wakes it";

    ASSERT_TRUE(clock.SettleAfter([&] { Play(LoudLowPacket()); }));
    EXPECT_FALSE(effect.ColorThreadIdle());
    ASSERT_EQ(output.Count(), ticks + 1) << "the first loud packet brings a tick at once";
    EXPECT_EQ(output.Last().colour, (Rgb{128, 0, 0}));
    EXPECT_EQ(Tick().colour, (Rgb{191, 0, 0})) << "and the ticks go on";
}

TEST_F(ColourThread, ADeviceJoiningInSilenceIsPaintedAtOnce)
{
    PauseInSilence();
    ASSERT_TRUE(effect.ColorThreadIdle());
    const size_t ticks = output.Count();
    ASSERT_TRUE(clock.SettleAfter([&] { effect.EnableDevice(3); }));
    ASSERT_EQ(output.Count(), ticks + 1) << "it would keep its last mode's colour until sound came";
    EXPECT_EQ(output.Last().devices, std::vector<int>{3});
}

TEST_F(ColourThread, WithoutNewPacketsTheColourSettlesOnTheLastBands)
{
    Play(TonePacket(kStereo480, 100.0, 0.05)); // low band 6: a dim red
    Start();
    for (int i = 0; i < 40; ++i)
        Tick();
    const Rgb settled = output.Last().colour;
    EXPECT_GT(settled.red, 0);
    EXPECT_EQ(Tick().colour, settled);
}

TEST_F(ColourThread, EveryStartFadesInFromBlackAndRedWithTheBandsOfTheLastPacket)
{
    Play(LoudLowPacket());
    Start();
    for (int i = 0; i < 10; ++i)
        Tick();
    effect.StopColorThread();
    ASSERT_TRUE(clock.WaitUntilNoWaiters());
    Start();
    EXPECT_EQ(Tick().colour, (Rgb{128, 0, 0}));
}

TEST_F(ColourThread, AStopWhileNoThreadRunsIsForgotten)
{
    effect.StopColorThread();
    Start();
    Tick();
    Tick();
    EXPECT_TRUE(effect.ColorThreadRunning());
    EXPECT_EQ(clock.Waiters(), 1);
}

TEST_F(ColourThread, AStartRightAfterAStopRunsOneFreshThread)
{
    Play(LoudLowPacket());
    Start();
    Tick();
    Tick();
    for (int i = 0; i < 10; ++i) {
        effect.StopColorThread();
        effect.StartColorThread();
    }
    effect.StartColorThread();
    ASSERT_TRUE(clock.WaitForWaiters(1));
    EXPECT_EQ(clock.Waiters(), 1);
    EXPECT_EQ(Tick().colour, (Rgb{128, 0, 0}));
    EXPECT_EQ(clock.Waiters(), 1);
}

TEST_F(ColourThread, TheEnabledDevicesReachTheOutputAtTheNextTick)
{
    Start();
    EXPECT_TRUE(Tick().devices.empty());
    EXPECT_EQ(debug.Lines().size(), 1u) << "the debug line comes with or without devices";
    effect.EnableDevice(2);
    effect.EnableDevice(-1);
    effect.EnableDevice(2);
    EXPECT_EQ(Tick().devices, (std::vector<int>{-1, 2}));
    effect.DisableDevice(2);
    effect.DisableDevice(7);
    EXPECT_EQ(Tick().devices, (std::vector<int>{-1}));
}

TEST_F(ColourThread, APacketWithoutAResultKeepsThePreviousBands)
{
    Play(LoudLowPacket());
    const BandLevels before = effect.Bands();
    ASSERT_GT(before.low, 100.0f);
    effect.UpdateBands(SilentPacket().data(), 480, 0);
    EXPECT_EQ(effect.Bands().low, before.low);
    Play(SilentPacket());
    EXPECT_EQ(effect.Bands().low, 0.0f);
}

double HueAfterOneTick(BandLevels bands)
{
    MusicColourState state;
    state.Tick(bands);
    return state.Hue();
}

TEST(MusicColourState, TheDominantBandPullsTheHueAndTiesGoToTheLowerBand)
{
    EXPECT_DOUBLE_EQ(HueAfterOneTick({0, 0, 10}), 0.2) << "high: toward 1 at 20 %";
    EXPECT_DOUBLE_EQ(HueAfterOneTick({0, 10, 0}), 0.025) << "mid: toward 1/2 at 5 %";
    EXPECT_DOUBLE_EQ(HueAfterOneTick({10, 0, 0}), 0.0) << "low: toward 0";
    EXPECT_DOUBLE_EQ(HueAfterOneTick({0, 10, 10}), 0.025) << "high equal to mid counts as mid";
    EXPECT_DOUBLE_EQ(HueAfterOneTick({10, 0, 10}), 0.0) << "high above mid but equal to low counts as low";
    EXPECT_DOUBLE_EQ(HueAfterOneTick({10, 10, 0}), 0.0) << "mid equal to low counts as low";
    EXPECT_DOUBLE_EQ(HueAfterOneTick({5, 5, 5}), 0.0) << "all equal count as low";
}

TEST(MusicColourState, TheHueRunsBackFromRedThroughBlueNotAcrossTheWrap)
{
    MusicColourState state;
    for (int i = 0; i < 60; ++i)
        state.Tick({0, 0, 200});
    ASSERT_GT(state.Hue(), 0.99);
    bool sawBlue = false, sawGreen = false;
    for (int i = 0; i < 60; ++i) {
        const Rgb colour = state.Tick({200, 0, 0});
        sawBlue |= colour.blue > 200 && colour.red < 100;
        sawGreen |= colour.green > 200 && colour.red < 100;
    }
    EXPECT_TRUE(sawBlue);
    EXPECT_TRUE(sawGreen);
    EXPECT_LT(state.Hue(), 0.01);
}

TEST(MusicColourState, NegativeAndNanBandsCountAsSilence)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    MusicColourState odd, silent;
    for (int i = 0; i < 3; ++i) {
        odd.Tick({200, 0, 0});
        silent.Tick({200, 0, 0});
    }
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(odd.Tick({nan, -4.0f, nan}), silent.Tick({0, 0, 0}));
    EXPECT_EQ(odd.Hue(), silent.Hue());
    EXPECT_EQ(odd.Level(), silent.Level());
}

} // namespace
} // namespace ovled
