// boardctl.exe: looks at and steers the virtual board from the command line.
//   boardctl register [SERVER.exe] | unregister | start | stop | status
//   boardctl profile NAME | temperature DEGREES | fault ... | leds | trace [N] | counters | show ...
//   boardctl watch INTERVAL_MS [SECONDS]   one JSON sample of the board per interval (until the reader
//                                           goes away, or for SECONDS)
//   boardctl clock                          the board clock for every line read from standard input
#include "platform/Text.h"
#include "platform/win32/Unique.h"
#include "simulator/BoardControl.h"
#include "simulator/win32/ServerRegistration.h"
#include "simulator/win32/SharedBoardStore.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace ovled::sim {
namespace {

constexpr char kServerUsage[] =
    "  register [SERVER.exe] | unregister | start | stop | status   the automation server\n"
    "  watch INTERVAL_MS [SECONDS]          a JSON sample of the board every interval\n"
    "  clock                                the board clock (microseconds) for every line read\n";

int Fail(const char* what, HRESULT hr)
{
    std::cerr << what << " failed (0x" << std::hex << static_cast<unsigned long>(hr) << ")\n";
    return 1;
}

int RunServerCommand(const std::vector<std::string>& args)
{
    const std::string& command = args[0];
    if (command == "register") {
        const std::wstring exe = args.size() > 1 ? platform::AnsiToWide(args[1]) : ServerBesideThisExecutable();
        const HRESULT hr = RegisterAcpiServer(exe);
        return SUCCEEDED(hr) ? 0 : Fail("registration", hr);
    }
    if (command == "unregister") {
        const HRESULT hr = UnregisterAcpiServer();
        return SUCCEEDED(hr) ? 0 : Fail("unregistration", hr);
    }
    if (command == "start") {
        win32::ScopedComInit com(COINIT_MULTITHREADED);
        const HRESULT hr = StartAcpiServer();
        return SUCCEEDED(hr) ? 0 : Fail("starting the server (is it registered?)", hr);
    }
    if (command == "stop") {
        if (!StopAcpiServer()) {
            std::cout << "no server was running\n";
            return 1;
        }
        return 0;
    }
    win32::ScopedComInit com(COINIT_MULTITHREADED);
    std::cout << "server " << (IsAcpiServerRegistered() ? "registered" : "not registered") << ", "
              << (IsAcpiServerRunning() ? "running" : "not running") << '\n';
    return 0;
}

int Watch(BoardModel& board, const std::vector<std::string>& args)
{
    const long interval = args.size() > 1 ? std::strtol(args[1].c_str(), nullptr, 10) : 100;
    const double seconds = args.size() > 2 ? std::strtod(args[2].c_str(), nullptr) : 0.0;
    if (interval <= 0 || seconds < 0) {
        std::cerr << "usage: boardctl watch INTERVAL_MS [SECONDS]\n";
        return 2;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::uint64_t traceSeen = 0;
    auto next = std::chrono::steady_clock::now();
    // Ends when the reader closes the pipe (the write fails) or the time is up.
    while (std::cout) {
        PrintSample(board, traceSeen, std::cout);
        std::cout.flush();
        if (seconds > 0 && std::chrono::steady_clock::now() >= end)
            break;
        next += std::chrono::milliseconds(interval);
        std::this_thread::sleep_until(next);
    }
    return 0;
}

// A reader that notes its own clock before it writes a line and after it reads the answer places the
// board clock (the trace's time stamps) on its own to within half that round trip.
int Clock()
{
    std::string line;
    while (std::getline(std::cin, line) && std::cout) {
        std::cout << BoardClockMicros() << '\n';
        std::cout.flush();
    }
    return 0;
}

int Run(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(platform::WideToAnsi(argv[i]));
    if (args.empty()) {
        std::cerr << "usage: boardctl COMMAND [ARGUMENTS]\n" << kServerUsage << BoardCommandUsage();
        return 2;
    }
    const std::string& command = args[0];
    if (command == "register" || command == "unregister" || command == "start" || command == "stop" ||
        command == "status")
        return RunServerCommand(args);
    if (command == "clock")
        return Clock();

    std::unique_ptr<SharedBoardStore> store = SharedBoardStore::Open();
    if (!store) {
        std::cerr << "the shared board cannot be opened\n";
        return 1;
    }
    BoardModel board(*store);
    board.EnsureValid(Profile::SwitchAndStrips);
    if (store->Fresh())
        std::cerr << "note: no server is holding the board; changes last only while a process holds it "
                     "(boardctl start)\n";
    if (command == "watch")
        return Watch(board, args);
    const int result = RunBoardCommand(board, args, std::cout, std::cerr);
    if (result == 2)
        std::cerr << kServerUsage;
    return result;
}

} // namespace
} // namespace ovled::sim

int wmain(int argc, wchar_t** argv)
{
    try {
        return ovled::sim::Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "boardctl: " << error.what() << '\n';
        return 1;
    } catch (...) {
        std::cerr << "boardctl: unexpected failure\n";
        return 1;
    }
}
