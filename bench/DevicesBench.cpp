// The periodic work of the lighting devices on the in-process virtual board (the model's own cost, no
// bridge): one music colour tick with the onboard zone and 1, 3 and 8 strips, and one thermal cycle.
// Each figure also says how many firmware calls it makes: through the automation bridge every call
// costs milliseconds, which is what decides whether a 10 ms colour tick keeps its pace.
#include "audio/SilentCapture.h"
#include "bench/BenchUtil.h"
#include "devices/CpuTemperature.h"
#include "devices/Process.h"
#include "leds/ExternalLedStripControl.h"
#include "lighting/MusicOutput.h"
#include "simulator/VirtualBoard.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace ovled::bench {
namespace {

std::filesystem::path FreshFolder()
{
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    auto folder = std::filesystem::temp_directory_path() / ("ovled-devices-bench-" + std::to_string(stamp));
    std::filesystem::create_directories(folder);
    return folder;
}

// The process's root for the life of the object, over an in-process board, with the settings files in a
// folder of its own.
class Bench {
public:
    Bench()
        : m_board(sim::Profile::SwitchAndStrips), m_folder(FreshFolder()),
          m_process(ProcessParts{m_board, platform::NoThreadSessions(), m_board, m_folder, platform::SystemClock(),
                                 [] { return std::make_unique<SilentCapture>(); }})
    {
    }
    ~Bench()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    sim::BoardModel& Model() { return m_board.Model(); }
    Board& Hardware() { return m_process.GetBoard(); }
    LedConfigFile& Config() { return m_process.LedConfig(); }
    Process& Root() { return m_process; }

    // Firmware calls and EC register writes of one run of `operation`.
    void PrintCalls(const char* what, const std::function<void()>& operation)
    {
        Model().ClearTrace();
        operation();
        const sim::Counters counters = Model().GetCounters();
        const unsigned calls = std::accumulate(std::begin(counters.calls), std::end(counters.calls), 0u);
        std::printf("    %-54s %u firmware calls, %u EC register writes (bank selects included)\n", what, calls,
                    counters.ecWrites);
    }

private:
    sim::VirtualBoard m_board;
    std::filesystem::path m_folder;
    Process m_process;
};

void ColourTicks(Bench& board)
{
    std::printf("Music colour tick (MusicOutput over the board's controllers):\n");
    LedControl onboard(board.Hardware(), board.Config());
    std::vector<std::unique_ptr<ExternalLedStripControl>> controllers;
    std::vector<ILedDevice*> stripDevices;
    for (int i = 0; i < 8; ++i) {
        controllers.push_back(std::make_unique<ExternalLedStripControl>(i, board.Hardware(), board.Config()));
        stripDevices.push_back(controllers.back().get());
    }
    DevicePainter painter(onboard, stripDevices);
    MusicOutput output(painter);
    std::uint8_t shade = 0;
    for (const std::uint32_t strips : {1u, 3u, 8u}) {
        board.Model().SetStripCount(strips);
        std::vector<int> devices{-1};
        for (std::uint32_t i = 0; i < strips; ++i)
            devices.push_back(static_cast<int>(i));
        auto tick = [&] { output.Write(EnabledDevices(devices), Rgb{shade++, 0x40, 0x80}); };
        const std::string what = "colour tick: onboard + " + std::to_string(strips) + " strip(s)";
        Print(what, Measure(tick, 5000));
        board.PrintCalls(what.c_str(), tick);
    }
    board.Model().SetStripCount(3);
}

void ThermalCycle(Bench& board)
{
    std::printf("Thermal cycle (CPU temperature, onboard zone, strips in thermal mode):\n");
    IFirmwareTransport& firmware = board.Hardware().Firmware();
    CpuTemperatureSource temperature(firmware);
    LedControl onboard(board.Hardware(), board.Config());
    std::vector<std::unique_ptr<ExternalLedStripControl>> strips;
    for (int i = 0; i < 3; ++i)
        strips.push_back(std::make_unique<ExternalLedStripControl>(i, board.Hardware(), board.Config()));
    Print("first temperature reading (searches group 6)", Measure([&] { CpuTemperatureSource(firmware).ReadCelsius(); }, 200));
    (void)temperature.ReadCelsius();

    // What the thermal thread does per cycle: read, then onboard (asked whether it is on) and strips.
    auto cycle = [&] {
        const auto celsius = temperature.ReadCelsius();
        if (!celsius)
            return;
        if (onboard.IsOn())
            onboard.ShowTemperature(*celsius);
        for (auto& strip : strips)
            strip->ShowTemperature(*celsius);
    };
    Print("temperature reading", Measure([&] { temperature.ReadCelsius(); }, 5000));
    Print("onboard ShowTemperature (EC registers)", Measure([&] { onboard.ShowTemperature(45); }, 5000));
    Print("strip ShowTemperature (colour sequence from the file)", Measure([&] { strips[0]->ShowTemperature(45); }, 2000));
    Print("thermal cycle: onboard + 3 strips", Measure(cycle, 2000));
    board.PrintCalls("thermal cycle: onboard + 3 strips", cycle);
}

// What a client waits for while the firmware is slow: one client restarts the thermal thread while its old
// run is inside a slow call; another reads a mode and sets an unrelated one.
void SlowFirmware(Bench& board)
{
    constexpr std::uint32_t kSlowMillis = 8000;
    std::printf("A client's calls while every firmware call takes %u ms (one run, real time):\n", kSlowMillis);
    LightingManager& manager = board.Root().Manager();
    manager.SetModeByIndex(0, kModeThermal);
    sim::Faults faults{};
    faults.slowMillis = kSlowMillis;
    board.Model().SetFaults(faults);
    std::this_thread::sleep_for(std::chrono::milliseconds(3500)); // the thermal cycle is inside a slow call
    std::thread restart([&] {
        manager.SetModeByIndex(0, kModeNone);
        manager.SetModeByIndex(0, kModeThermal); // the new run must wait for the old one to end
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    using Clock = std::chrono::steady_clock;
    const auto read = Clock::now();
    (void)manager.GetModeByIndex(1);
    const auto set = Clock::now();
    manager.SetModeByIndex(2, kModeNone);
    const auto done = Clock::now();
    auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::printf("    %-54s %10.2f ms\n", "read of another device (ModeByIndex get)", ms(set - read));
    std::printf("    %-54s %10.2f ms\n", "set of another device (ModeByIndex put)", ms(done - set));
    restart.join();
    board.Model().ClearFaults();
}

} // namespace
} // namespace ovled::bench

int main()
{
    ovled::bench::Bench board;
    ovled::bench::ColourTicks(board);
    ovled::bench::ThermalCycle(board);
    ovled::bench::SlowFirmware(board);
    return 0;
}
