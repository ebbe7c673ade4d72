// The virtual board's control commands (profile, temperature, faults, LED colours, write trace),
// shared by the Windows control command and the host tests. One call runs one command.
#pragma once

#include "simulator/BoardModel.h"

#include <ostream>
#include <string>
#include <vector>

namespace ovled::sim {

// Runs `args` (the command and its arguments) against the board. 0 on success, 2 for a command that
// is not understood (the usage goes to `err`).
int RunBoardCommand(BoardModel& board, const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
const char* BoardCommandUsage() noexcept;

void PrintLeds(BoardModel& board, std::ostream& out);
void PrintTrace(BoardModel& board, std::size_t limit, std::ostream& out);
void PrintCounters(BoardModel& board, std::ostream& out);
void PrintFaults(BoardModel& board, std::ostream& out);

// Watching the board: one JSON line per call, with the board clock's time ("now", microseconds), the
// temperature in tenths, the strip count, the automation calls per method, the failed calls, the
// writes per device (onboard first), what every LED shows, the running total of trace entries
// ("traced") and the entries written since the previous call (`traceSeen` starts at 0 and is
// advanced): [micros, kind, target, value, detail]. A reader that fell behind the ring sees fewer new
// entries than "traced" grew by.
void PrintSample(BoardModel& board, std::uint64_t& traceSeen, std::ostream& out);

} // namespace ovled::sim
