#include "simulator/BoardControl.h"

#include "hardware/ItemIds.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ovled::sim {
namespace {

constexpr char kUsage[] =
    "commands:\n"
    "  profile switch-strips|no-switch|no-strips|no-sensor|empty   a fresh board of that kind\n"
    "  temperature DEGREES                  the CPU temperature (e.g. 45 or 45.5)\n"
    "  wiring STRIP DDD                     the channel each colour byte feeds (0 red, 1 blue, 2 green)\n"
    "  hide ID | unhide ID                  take an item away from the firmware, or give it back\n"
    "  fault clear                          no faults\n"
    "  fault fail METHOD|all|none           the automation method fails (iAcpiGetItem, ... or get-item)\n"
    "  fault slow MS                        every automation call takes MS milliseconds\n"
    "  fault hang on|off                    every automation call waits until the fault is cleared\n"
    "  fault ec-busy on|off|READS           the controller stays busy, or is busy for READS status reads\n"
    "  fault description KIND [ID]          malformed descriptions (of one item, or all)\n"
    "  fault group KIND [GROUP]             malformed group lists (of one group, or all)\n"
    "  fault server-missing on|off          (in process) every call fails as if nothing were registered\n"
    "  fault answers-zero on|off            methods answer 0 although their invocation succeeds\n"
    "  fault port-io on|off                 the port-I/O library fails: open answers 0, reads 0xFF, writes lost\n"
    "     KIND: none huge-count length-past-end truncated empty oversized too-few-elements\n"
    "  leds | trace [N] | counters | faults | last-call | clear-trace | show\n";

bool ParseNumber(const std::string& text, std::uint32_t& out)
{
    if (text.empty() || text[0] == '-')
        return false;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || value > 0xFFFFFFFFull)
        return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

bool ParseSwitch(const std::string& text, std::uint32_t& out)
{
    if (text == "on") {
        out = 1;
        return true;
    }
    if (text == "off") {
        out = 0;
        return true;
    }
    return false;
}

bool ParseMethodMask(const std::string& text, std::uint32_t& mask)
{
    if (text == "all") {
        mask = (1u << kMethodCount) - 1;
        return true;
    }
    if (text == "none") {
        mask = 0;
        return true;
    }
    // "iAcpiGetItem" or its short form "get-item".
    static constexpr const char* kShort[kMethodCount] = {"init", "get-item", "get-item-ex", "set-item",
                                                         "set-item-buffer", "mbif", "ggrp", "call-method"};
    for (std::uint32_t i = 0; i < kMethodCount; ++i) {
        if (text == kShort[i] || text == MethodName(static_cast<Method>(i))) {
            mask |= 1u << i;
            return true;
        }
    }
    return false;
}

std::string Hex(std::uint32_t value, int width = 8)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", width, value);
    return text;
}

void PrintLed(const char* name, const LedView& view, std::ostream& out)
{
    char line[128];
    if (!view.present) {
        std::snprintf(line, sizeof line, "%-9s absent\n", name);
    } else {
        std::snprintf(line, sizeof line, "%-9s %-3s %-8s R %3u G %3u B %3u  effect %u\n", name, view.on ? "on" : "off",
                      view.hostControl ? "host" : "firmware", view.red, view.green, view.blue, view.effectCode);
    }
    out << line;
}

int RunFault(BoardModel& board, const std::vector<std::string>& args, std::ostream& err)
{
    if (args.size() < 2)
        return 2;
    const std::string& what = args[1];
    if (what == "clear") {
        board.ClearFaults();
        return 0;
    }
    if (args.size() < 3)
        return 2;
    Faults faults = board.GetFaults();
    const std::string& value = args[2];
    std::uint32_t number = 0;
    Malformation how = Malformation::None;
    if (what == "fail") {
        std::uint32_t mask = value == "none" || value == "all" ? 0 : faults.failingMethods;
        if (!ParseMethodMask(value, mask))
            return 2;
        faults.failingMethods = mask;
    } else if (what == "slow" && ParseNumber(value, number)) {
        faults.slowMillis = number;
    } else if (what == "hang" && ParseSwitch(value, number)) {
        faults.hangs = number;
    } else if (what == "ec-busy") {
        if (ParseSwitch(value, number)) {
            faults.ecStaysBusy = number;
        } else if (ParseNumber(value, number)) {
            faults.ecStaysBusy = 0;
            faults.ecBusyReads = number;
        } else {
            return 2;
        }
    } else if ((what == "description" || what == "group") && ParseMalformation(value, how)) {
        std::uint32_t target = what == "group" ? 0xFFFFFFFF : 0;
        if (args.size() > 3 && !ParseNumber(args[3], target))
            return 2;
        if (what == "description") {
            faults.descriptionMalformation = static_cast<std::uint32_t>(how);
            faults.descriptionTarget = target == 0 ? 0 : items::RegistryKey(target);
        } else {
            faults.groupMalformation = static_cast<std::uint32_t>(how);
            faults.groupTarget = target;
        }
    } else if (what == "server-missing" && ParseSwitch(value, number)) {
        faults.serverMissing = number;
    } else if (what == "answers-zero" && ParseSwitch(value, number)) {
        faults.answersZero = number;
    } else if (what == "port-io" && ParseSwitch(value, number)) {
        faults.portIoFails = number;
    } else {
        err << "unknown fault: " << what << ' ' << value << '\n';
        return 2;
    }
    board.SetFaults(faults);
    return 0;
}

int Run(BoardModel& board, const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty())
        return 2;
    const std::string& command = args[0];
    std::uint32_t number = 0;
    if (command == "profile" && args.size() == 2) {
        Profile profile{};
        if (!ParseProfile(args[1], profile))
            return 2;
        board.Reset(profile);
        return 0;
    }
    if (command == "temperature" && args.size() == 2) {
        char* end = nullptr;
        const double degrees = std::strtod(args[1].c_str(), &end);
        if (*end != '\0' || !(degrees >= 0.0) || degrees > 400.0)
            return 2;
        board.SetTemperatureTenths(static_cast<std::uint32_t>(std::lround(degrees * 10.0)));
        return 0;
    }
    if (command == "wiring" && args.size() == 3 && ParseNumber(args[1], number) && args[2].size() == 3) {
        std::uint8_t wiring[3];
        for (int i = 0; i < 3; ++i) {
            const char c = args[2][static_cast<std::size_t>(i)];
            if (c < '0' || c > '9')
                return 2;
            wiring[i] = static_cast<std::uint8_t>(c - '0');
        }
        if (!board.SetWiring(number, wiring)) {
            err << "no strip " << number << '\n';
            return 1;
        }
        return 0;
    }
    if ((command == "hide" || command == "unhide") && args.size() == 2 && ParseNumber(args[1], number)) {
        if (!board.SetItemPresent(number, command == "unhide")) {
            err << "no item " << Hex(number) << '\n';
            return 1;
        }
        return 0;
    }
    if (command == "fault")
        return RunFault(board, args, err);
    if (command == "leds" && args.size() == 1) {
        PrintLeds(board, out);
        return 0;
    }
    if (command == "trace" && args.size() <= 2) {
        std::uint32_t limit = 32;
        if (args.size() == 2 && !ParseNumber(args[1], limit))
            return 2;
        PrintTrace(board, limit, out);
        return 0;
    }
    if (command == "counters" && args.size() == 1) {
        PrintCounters(board, out);
        return 0;
    }
    if (command == "faults" && args.size() == 1) {
        PrintFaults(board, out);
        return 0;
    }
    if (command == "last-call" && args.size() == 1) {
        const CallRecord call = board.LastCall();
        out << "call " << call.sequence << ": " << MethodName(static_cast<Method>(call.method)) << " arguments";
        for (std::uint32_t i = 0; i < call.argumentCount && i < 4; ++i)
            out << ' ' << Hex(call.argumentTypes[i], 4);
        out << " scalars " << Hex(call.scalars[0]) << ' ' << Hex(call.scalars[1]) << " bytes sent " << call.bytesSent
            << " first byte " << Hex(call.firstByteSent, 2) << '\n';
        return 0;
    }
    if (command == "clear-trace" && args.size() == 1) {
        board.ClearTrace();
        return 0;
    }
    if (command == "show" && args.size() == 1) {
        out << "profile " << ProfileName(static_cast<Profile>(board.With([](BoardState& s) { return s.profile; })))
            << ", CPU temperature "
            << board.With([](BoardState& s) { return s.temperatureTenths; }) / 10.0 << " degrees\n";
        PrintLeds(board, out);
        PrintFaults(board, out);
        PrintCounters(board, out);
        return 0;
    }
    return 2;
}

} // namespace

const char* BoardCommandUsage() noexcept
{
    return kUsage;
}

int RunBoardCommand(BoardModel& board, const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const int result = Run(board, args, out, err);
    if (result == 2)
        err << kUsage;
    return result;
}

void PrintLeds(BoardModel& board, std::ostream& out)
{
    PrintLed("onboard", board.Onboard(), out);
    const std::uint32_t strips = board.StripCount();
    for (std::uint32_t i = 0; i < strips && i < kMaxStrips; ++i) {
        const std::string name = "strip " + std::to_string(i);
        PrintLed(name.c_str(), board.Strip(i), out);
    }
}

void PrintTrace(BoardModel& board, std::size_t limit, std::ostream& out)
{
    const std::vector<TraceEntry> entries = board.Trace(limit);
    const std::uint64_t start = entries.empty() ? 0 : entries.front().micros;
    for (const TraceEntry& entry : entries) {
        char line[128];
        const double millis = static_cast<double>(entry.micros - start) / 1000.0;
        if (entry.kind == static_cast<std::uint32_t>(TraceKind::ItemWrite)) {
            std::snprintf(line, sizeof line, "%10.3f ms  item %s <- %s  flags %u  strip %u\n", millis,
                          Hex(entry.target).c_str(), Hex(entry.value).c_str(), entry.detail & 0xFF,
                          entry.detail >> 8);
        } else {
            std::snprintf(line, sizeof line, "%10.3f ms  ec   bank %u [%s] <- %s\n", millis, entry.target >> 8,
                          Hex(entry.target & 0xFF, 2).c_str(), Hex(entry.value, 2).c_str());
        }
        out << line;
    }
}

namespace {

void PrintLedJson(int device, const LedView& led, std::ostream& out)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "{\"dev\":%d,\"present\":%d,\"on\":%d,\"host\":%d,\"code\":%u,\"rgb\":\"%02x%02x%02x\"}", device,
                  led.present ? 1 : 0, led.on ? 1 : 0, led.hostControl ? 1 : 0, static_cast<unsigned>(led.effectCode),
                  static_cast<unsigned>(led.red), static_cast<unsigned>(led.green), static_cast<unsigned>(led.blue));
    out << text;
}

template <class T, std::size_t N>
void PrintJsonArray(const T (&values)[N], std::ostream& out)
{
    out << '[';
    for (std::size_t i = 0; i < N; ++i)
        out << (i ? "," : "") << values[i];
    out << ']';
}

} // namespace

void PrintSample(BoardModel& board, std::uint64_t& traceSeen, std::ostream& out)
{
    const std::uint32_t tenths = board.With([](BoardState& state) { return state.temperatureTenths; });
    const std::uint32_t strips = std::min<std::uint32_t>(board.StripCount(), kMaxStrips);
    const Counters counters = board.GetCounters();
    const std::vector<TraceEntry> entries = board.TraceSince(traceSeen);

    out << "{\"now\":" << BoardClockMicros() << ",\"temp\":" << tenths << ",\"strips\":" << strips << ",\"calls\":";
    PrintJsonArray(counters.calls, out);
    out << ",\"failed\":" << counters.failedCalls << ",\"writes\":";
    PrintJsonArray(counters.deviceWrites, out);
    out << ",\"leds\":[";
    PrintLedJson(-1, board.Onboard(), out);
    for (std::uint32_t i = 0; i < strips; ++i) {
        out << ',';
        PrintLedJson(static_cast<int>(i), board.Strip(i), out);
    }
    out << "],\"traced\":" << traceSeen << ",\"trace\":[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TraceEntry& e = entries[i];
        out << (i ? "," : "") << '[' << e.micros << ',' << e.kind << ',' << e.target << ',' << e.value << ','
            << e.detail << ']';
    }
    out << "]}\n";
}

void PrintCounters(BoardModel& board, std::ostream& out)
{
    const Counters counters = board.GetCounters();
    out << "calls:";
    for (std::uint32_t i = 0; i < kMethodCount; ++i)
        out << ' ' << MethodName(static_cast<Method>(i)) << '=' << counters.calls[i];
    out << " failed=" << counters.failedCalls << '\n';
    out << "writes: items=" << counters.itemWrites << " ec=" << counters.ecWrites << " onboard="
        << counters.deviceWrites[0];
    for (std::size_t i = 0; i < kMaxStrips; ++i) {
        if (counters.deviceWrites[1 + i])
            out << " strip" << i << '=' << counters.deviceWrites[1 + i];
    }
    out << " ports: out=" << counters.portWrites << " in=" << counters.portReads << '\n';
}

void PrintFaults(BoardModel& board, std::ostream& out)
{
    const Faults f = board.GetFaults();
    out << "faults: failing";
    if (f.failingMethods == 0)
        out << " none";
    for (std::uint32_t i = 0; i < kMethodCount; ++i) {
        if (f.failingMethods & (1u << i))
            out << ' ' << MethodName(static_cast<Method>(i));
    }
    out << ", slow " << f.slowMillis << " ms" << (f.hangs ? ", hanging" : "") << ", ec " << (f.ecStaysBusy ? "busy" : "ready") << ", descriptions "
        << MalformationName(static_cast<Malformation>(f.descriptionMalformation)) << ", group lists "
        << MalformationName(static_cast<Malformation>(f.groupMalformation))
        << (f.serverMissing ? ", server missing" : "") << (f.answersZero ? ", methods answer 0" : "")
        << (f.portIoFails ? ", port I/O failing" : "") << '\n';
}

} // namespace ovled::sim
