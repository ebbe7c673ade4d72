// The lighting manager over the board's real devices, built by the process's factory, on the virtual
// board: what the modes put on the LEDs.
#include "audio/SyntheticCapture.h"
#include "devices/BoardDeviceFactory.h"
#include "devices/CpuTemperature.h"
#include "lighting/LightingManager.h"
#include "tests/support/BoardScope.h"
#include "tests/support/BoardTrace.h"

#include <gtest/gtest.h>

namespace ovled {
namespace {

using namespace std::chrono_literals;
using test::BoardScope;
using test::Shown;
using test::SteppedClock;

constexpr SyntheticFormat kStereo480{48000, 2, 480};

class LightingOnTheBoard : public ::testing::Test {
protected:
    void Build()
    {
        m_manager = std::make_unique<LightingManager>(m_settings, m_devices, m_temperature, m_thermalClock,
                                                      LightingManager::Timing{});
    }
    sim::BoardModel& Board() { return m_scope.Model(); }
    std::uint32_t WritesTo(std::uint32_t device) { return Board().GetCounters().deviceWrites[device]; }

    BoardScope m_scope;
    LightingSettings& m_settings = m_scope.Root().Settings();
    SteppedClock m_thermalClock; // the manager's: the thermal thread's 3000 ms
    SteppedClock m_colourClock;  // the devices': the music colour thread's 10 ms
    SteppedClock m_captureClock; // the synthetic capture's packets
    BoardDeviceFactory m_devices{m_scope.Hardware(), m_scope.Config(), m_colourClock, [this] {
                                     return std::make_unique<SyntheticCapture>(
                                         m_captureClock, kStereo480, ToneGenerator(kStereo480, 100.0, 1.0));
                                 }};
    CpuTemperatureSource m_temperature{m_scope.Hardware().Firmware()};
    std::unique_ptr<LightingManager> m_manager;
};

TEST_F(LightingOnTheBoard, ThermalModeShowsTheCpuTemperatureOnExactlyItsDevices)
{
    m_settings.SetMode(kModeThermal);
    m_settings.SetEnabled(true);
    m_settings.SetExternalMode(1, kModeThermal);
    m_settings.SetExternalEnable(0, 1);
    Build();
    ASSERT_TRUE(m_manager->IsThermalRunning());
    ASSERT_TRUE(m_thermalClock.WaitForWaiters(1));
    EXPECT_EQ(m_thermalClock.LastPeriod(), 3000ms);

    Board().SetTemperatureTenths(455);
    Board().ClearTrace();
    ASSERT_TRUE(m_thermalClock.StepAndSettle());
    // 45 degrees: hue 0.333 - 25 * 0.333 / 40 = 0.124875.
    const Rgb expected = HslToRgb(0.124875f, 1.0f, 0.5f);
    ASSERT_EQ(expected, (Rgb{255, 191, 0}));
    EXPECT_EQ(Shown(Board().Onboard()), expected);
    EXPECT_EQ(Shown(Board().Strip(1)), expected);
    EXPECT_EQ(WritesTo(1 + 0), 0u) << "strip 0 is in mode none";
    EXPECT_EQ(WritesTo(1 + 2), 0u) << "strip 2 is in mode none";
    EXPECT_FALSE(Board().Strip(0).hostControl);
    EXPECT_FALSE(Board().Strip(2).hostControl);

    m_manager->SetModeByIndex(kStripsOffCommand, 0);
    ASSERT_TRUE(m_manager->IsThermalRunning()) << "the onboard zone still needs the thread";
    Board().SetTemperatureTenths(700);
    Board().ClearTrace();
    ASSERT_TRUE(m_thermalClock.StepAndSettle());
    EXPECT_EQ(Shown(Board().Onboard()), (Rgb{255, 0, 0}));
    EXPECT_EQ(Shown(Board().Strip(1)), expected) << "switched off: no more updates";
    for (std::uint32_t strip = 0; strip < 3; ++strip)
        EXPECT_EQ(WritesTo(1 + strip), 0u) << "strip " << strip;
}

TEST_F(LightingOnTheBoard, ThermalModeWithoutASensorLeavesTheColoursAlone)
{
    Board().Reset(sim::Profile::NoSensor);
    m_settings.SetMode(kModeThermal);
    m_settings.SetEnabled(true);
    Build();
    ASSERT_TRUE(m_thermalClock.WaitForWaiters(1));
    Board().ClearTrace();
    ASSERT_TRUE(m_thermalClock.StepAndSettle());
    ASSERT_TRUE(m_thermalClock.StepAndSettle());
    EXPECT_EQ(WritesTo(0), 0u);
    EXPECT_EQ(m_temperature.Searches(), 1);
}

TEST_F(LightingOnTheBoard, MusicModeBringsTheCapturedSoundToTheBoard)
{
    m_settings.SetMode(kModeMusic);
    m_settings.SetEnabled(true);
    m_settings.SetExternalMode(2, kModeMusic);
    m_settings.SetExternalEnable(0, 1);
    Build(); // the stored modes start capture and the colour thread
    ASSERT_TRUE(m_captureClock.WaitForWaiters(1));
    ASSERT_TRUE(m_colourClock.WaitForWaiters(1));
    EXPECT_EQ(m_colourClock.LastPeriod(), 10ms);

    ASSERT_TRUE(m_captureClock.StepAndSettle()); // one packet of a loud 100 Hz tone: the low band
    ASSERT_TRUE(m_colourClock.StepAndSettle());
    EXPECT_EQ(Shown(Board().Onboard()), (Rgb{128, 0, 0})) << "the first tick after a start: half bright red";
    auto stripColour = [&] { return Board().With([](sim::BoardState& state) { return state.strips[2].color; }); };
    EXPECT_EQ(stripColour(), 0x800000u) << "red, green, blue from the high byte";
    for (int tick = 0; tick < 9; ++tick)
        ASSERT_TRUE(m_colourClock.StepAndSettle());
    EXPECT_EQ(Shown(Board().Onboard()), (Rgb{255, 0, 0}));
    EXPECT_EQ(stripColour(), 0xFF0000u);
    EXPECT_EQ(WritesTo(1 + 0), 0u);
    EXPECT_EQ(WritesTo(1 + 1), 0u);

    m_manager->SetModeByIndex(-1, kModeNone);
    m_manager->SetModeByIndex(2, kModeNone);
    EXPECT_TRUE(m_colourClock.WaitUntilNoWaiters()) << "no music device left: the colour thread ends";
}

// The process's composition: controllers for the board's own devices.
TEST(BoardDevices, BuildsTheControllersOfTheBoardsDevices)
{
    BoardScope scope;
    IDeviceFactory& devices = scope.Root().Devices();
    EXPECT_EQ(devices.GetExternalStripCount(), 3);

    ASSERT_TRUE(devices.CreateStripController(2)->EnterMusicMode());
    EXPECT_TRUE(scope.Model().Strip(2).hostControl);
    EXPECT_FALSE(scope.Model().Strip(1).hostControl);

    const auto onboard = devices.CreateOnboardController();
    onboard->ShowColour(ThermalColour(60), ColourSource::Thermal);
    EXPECT_EQ(scope.Model().EcRegister(0, 0x70), 0xFF);
    ASSERT_TRUE(scope.Model().SetStripCount(8));
    EXPECT_EQ(devices.GetExternalStripCount(), 8);
}

// A COM call still under way at the end of the process may be the first to ask for the manager.
TEST(LightingOfTheProcess, AManagerFirstAskedForAfterTheLightingEndedKeepsNoThreadRunning)
{
    BoardScope scope;
    scope.Root().Settings().SetMode(kModeThermal);
    scope.Root().Settings().SetEnabled(true);
    scope.Root().ShutdownLighting();
    EXPECT_FALSE(scope.Root().Manager().IsThermalRunning());
}

} // namespace
} // namespace ovled
