#include "tests/support/BoardTrace.h"

#include "hardware/EcPort.h"
#include "hardware/ItemIds.h"

#include <cstdio>

namespace ovled::test {
namespace {

bool IsStripItem(std::uint32_t id)
{
    return id == items::kStripHostControl || id == items::kStripEffect || id == items::kStripColor;
}

} // namespace

std::vector<std::string> BoardWrites(sim::BoardModel& model)
{
    std::vector<std::string> lines;
    char line[64];
    for (const sim::TraceEntry& entry : model.Trace()) {
        if (entry.kind == static_cast<std::uint32_t>(sim::TraceKind::ItemWrite)) {
            int used = std::snprintf(line, sizeof line, "set %x %x f%x", entry.target, entry.value, entry.detail & 0xFF);
            if (IsStripItem(entry.target))
                std::snprintf(line + used, sizeof line - static_cast<size_t>(used), " @%u", (entry.detail >> 8) & 0xFF);
            lines.emplace_back(line);
        } else if ((entry.target & 0xFF) != ec::kBankRegister) {
            std::snprintf(line, sizeof line, "ec %x %x", entry.target & 0xFF, entry.value);
            lines.emplace_back(line);
        }
    }
    return lines;
}

std::vector<std::string> WritesOf(sim::BoardModel& model, const std::function<void()>& operation)
{
    model.ClearTrace();
    operation();
    return BoardWrites(model);
}

} // namespace ovled::test
