// The firmware traffic of a scripted drive, held against a recorded trace: stored modes, mode changes,
// the off commands, a suspend and a resume, thermal cycles and a clip of music through the synthetic
// capture, on a board with the switch item (EC colour path) and on one without. Every thread runs on a
// stepped clock of its own, so the trace is the same on every run; a change of the code's route must not
// change a byte of it. Record it anew (only for a change that means to alter the traffic) with
//     OVLED_RECORD_TRACE=tests/unit/devices/FirmwareTrace.inc build/host/tests/device_tests
#include "audio/SyntheticCapture.h"
#include "devices/BoardDeviceFactory.h"
#include "devices/CpuTemperature.h"
#include "lighting/LightingManager.h"
#include "lighting/PowerEvents.h"
#include "tests/support/BoardScope.h"
#include "tests/support/BoardTrace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace ovled {
namespace {

using test::BoardScope;
using test::SteppedClock;
using Lines = std::vector<std::string>;

const char* const kRecorded[] = {
#include "tests/unit/devices/FirmwareTrace.inc"
};

constexpr SyntheticFormat kFormat{48000, 2, 480};

// The clip: packets of 10 ms that move between the three bands and between loud, soft and silent, so the
// colour's hue and brightness keep changing. Square waves: their samples are exact on every build.
// While `silent` is set the packets hold silence.
SampleGenerator Clip(const std::atomic<bool>& silent)
{
    return [&silent](std::uint64_t firstFrame, std::vector<std::int16_t>& samples) {
        static constexpr double kFrequencies[] = {100.0, 1500.0, 9000.0, 0.0};
        const std::uint64_t packet = firstFrame / kFormat.framesPerPacket;
        const double frequency = silent ? 0.0 : kFrequencies[(packet / 6) % 4];
        const int amplitude = frequency == 0.0 ? 0 : 2000 + static_cast<int>((packet * 7919) % 30000);
        const std::uint64_t period = frequency == 0.0 ? 1 : static_cast<std::uint64_t>(kFormat.sampleRate / frequency);
        for (std::size_t frame = 0; frame < samples.size() / kFormat.channels; ++frame) {
            const std::uint64_t at = firstFrame + frame;
            const auto sample = static_cast<std::int16_t>((at % period) * 2 < period ? amplitude : -amplitude);
            for (std::size_t channel = 0; channel < kFormat.channels; ++channel)
                samples[frame * kFormat.channels + channel] = sample;
        }
    };
}

class Drive {
public:
    explicit Drive(sim::Profile profile) : m_scope(profile) {}

    Lines Run()
    {
        LightingSettings& settings = m_scope.Root().Settings();
        settings.SetMode(kModeThermal);
        settings.SetEnabled(true);
        settings.SetExternalMode(0, kModeMusic);
        settings.SetExternalMode(1, kModeThermal);
        settings.SetExternalEnable(0, 1);
        m_scope.Model().SetTemperatureTenths(455);

        Phase("stored modes at start", [&] {
            m_manager = std::make_unique<LightingManager>(settings, m_devices, m_temperature, m_thermalClock,
                                                          LightingManager::Timing{});
            m_power = std::make_unique<PowerEventHandler>(*m_manager, m_devices);
        });
        Phase("music and a thermal cycle", [&] {
            Music(25);
            Thermal();
        });
        Phase("strip 2 music", [&] {
            m_manager->SetModeByIndex(2, kModeMusic);
            Music(12);
        });
        Phase("strips off", [&] {
            m_manager->SetModeByIndex(kStripsOffCommand, 0); // no music device is left
            m_scope.Model().SetTemperatureTenths(700);
            Thermal();
        });
        Phase("strip 0 music switches the strips on", [&] {
            m_manager->SetModeByIndex(0, kModeMusic);
            Music(8);
            Thermal();
        });
        Phase("onboard off, then music", [&] {
            m_manager->SetModeByIndex(kOnboardOffCommand, 0);
            Music(4);
            m_manager->SetModeByIndex(kOnboardDevice, kModeMusic);
            Music(6);
        });
        Phase("onboard thermal, strip 1 stored as 7", [&] {
            m_manager->SetModeByIndex(kOnboardDevice, kModeThermal);
            m_manager->SetModeByIndex(1, 7);
            m_scope.Model().SetTemperatureTenths(312);
            Thermal();
            Music(3);
        });
        Phase("suspend", [&] { m_power->OnPowerBroadcast(kPowerSuspend); });
        Phase("resume", [&] {
            m_power->OnPowerBroadcast(kPowerResumeAutomatic);
            Music(6);
            Thermal();
        });
        Phase("silence: the colour fades and is refreshed once a second", [&] {
            m_silent = true;
            Music(230);
        });
        Phase("every device none", [&] {
            for (int device = kOnboardDevice; device < 3; ++device)
                m_manager->SetModeByIndex(device, kModeNone);
            EXPECT_TRUE(m_colourClock.WaitUntilNoWaiters());
            EXPECT_TRUE(m_thermalClock.WaitUntilNoWaiters());
        });
        m_manager.reset();
        return m_lines;
    }

private:
    void Phase(const std::string& name, const std::function<void()>& steps)
    {
        m_lines.push_back("# " + name);
        for (std::string& line : test::WritesOf(m_scope.Model(), steps))
            m_lines.push_back(std::move(line));
    }
    // `ticks` colour ticks, each after one packet of the clip.
    void Music(int ticks)
    {
        ASSERT_TRUE(m_colourClock.WaitForWaiters(1));
        for (int tick = 0; tick < ticks; ++tick) {
            ASSERT_TRUE(m_captureClock.StepAndSettle());
            ASSERT_TRUE(m_colourClock.StepAndSettle());
        }
    }
    void Thermal()
    {
        ASSERT_TRUE(m_thermalClock.WaitForWaiters(1));
        ASSERT_TRUE(m_thermalClock.StepAndSettle());
    }

    BoardScope m_scope;
    SteppedClock m_thermalClock;
    SteppedClock m_colourClock;
    SteppedClock m_captureClock;
    std::atomic<bool> m_silent{false};
    BoardDeviceFactory m_devices{m_scope.Hardware(), m_scope.Config(), m_colourClock,
                                 [this] { return std::make_unique<SyntheticCapture>(m_captureClock, kFormat, Clip(m_silent)); }};
    CpuTemperatureSource m_temperature{m_scope.Hardware().Firmware()};
    std::unique_ptr<LightingManager> m_manager;
    std::unique_ptr<PowerEventHandler> m_power;
    Lines m_lines;
};

Lines DriveBothBoards()
{
    Lines lines{"## a board with the switch item"};
    for (std::string& line : Drive(sim::Profile::SwitchAndStrips).Run())
        lines.push_back(std::move(line));
    lines.push_back("## a board without the switch item");
    for (std::string& line : Drive(sim::Profile::NoSwitch).Run())
        lines.push_back(std::move(line));
    return lines;
}

TEST(FirmwareTrace, AScriptedDriveWritesExactlyTheRecordedTraffic)
{
    const Lines lines = DriveBothBoards();
    if (const char* record = std::getenv("OVLED_RECORD_TRACE")) {
        std::ofstream out(record, std::ios::trunc);
        for (const std::string& line : lines)
            out << '"' << line << "\",\n";
        GTEST_SKIP() << "recorded " << lines.size() << " lines to " << record;
    }
    const Lines recorded(std::begin(kRecorded), std::end(kRecorded));
    ASSERT_EQ(lines.size(), recorded.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], recorded[i]) << "line " << i + 1;
}

} // namespace
} // namespace ovled
