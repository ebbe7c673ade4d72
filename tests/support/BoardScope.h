// BoardScope: one test's own composition root over a virtual board in process: the process's objects
// (devices/Process) over the board, a stepped clock (the board's 1 ms pauses are only counted), a
// temporary folder for the settings files and an audio source that stays silent. While it lives it is
// the process's root, so every Instance() accessor answers with its objects.
//     test::BoardScope scope(sim::Profile::NoSwitch);
//     LedControl onboard(scope.Hardware(), scope.Config());
//     EXPECT_TRUE(onboard.SetEffect1(0x0000FF));
#pragma once

#include "devices/Process.h"
#include "simulator/VirtualBoard.h"
#include "tests/support/SteppedClock.h"
#include "tests/support/TempFolder.h"

namespace ovled::test {

class BoardScope {
public:
    explicit BoardScope(sim::Profile profile = sim::Profile::SwitchAndStrips);
    BoardScope(const BoardScope&) = delete;
    BoardScope& operator=(const BoardScope&) = delete;

    sim::BoardModel& Model() noexcept { return m_board.Model(); }
    Process& Root() noexcept { return m_process; }
    Board& Hardware() noexcept { return m_process.GetBoard(); }
    BiosItemRegistry& Registry() noexcept { return Hardware().Registry(); }
    EcPort& Ec() noexcept { return Hardware().Ec(); }
    LedConfigFile& Config() noexcept { return m_process.LedConfig(); }
    SteppedClock& Clock() noexcept { return m_clock; }
    const TempFolder& Folder() const noexcept { return m_folder; }

private:
    TempFolder m_folder;
    SteppedClock m_clock;
    sim::VirtualBoard m_board;
    Process m_process;
};

} // namespace ovled::test
