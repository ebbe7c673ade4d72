// The virtual board's write trace in a form tests can compare whole: one line per item write or colour
// register write, oldest first (bank selects of the EC protocol left out), and what a device lights.
//   "set 13060046 1 f3"           item, value, flags (hex)
//   "set 13060049 bf00ff f3 @1"   a strip item (0x13060047..49) also names the strip selected then
//   "ec 70 ff"                    EC bank-0 register, value
#pragma once

#include "lighting/HslToRgb.h"
#include "simulator/BoardModel.h"

#include <functional>
#include <string>
#include <vector>

namespace ovled::test {

std::vector<std::string> BoardWrites(sim::BoardModel& model);

// Clears the trace, runs `operation` and returns the writes it made.
std::vector<std::string> WritesOf(sim::BoardModel& model, const std::function<void()>& operation);

// What a device lights, as a colour.
inline Rgb Shown(const sim::LedView& view)
{
    return {view.red, view.green, view.blue};
}

} // namespace ovled::test
