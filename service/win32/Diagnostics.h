// Where the service host's messages go besides their own channels (the event log, message boxes):
// a diagnostic named pipe. Wine's event log keeps nothing and a service's desktop is nobody's, so a
// test or a support tool that wants to see the status reports, events and notices of any process of
// the executable (the service included) listens on the pipe; when no one listens nothing is written.
// Each line is "<process id> <kind> <text>", kind being "status", "event" or "notice".
// Any thread may send, and a send never waits: the lines (and the service's events) are written in
// order by one thread of their own, which waits at most 1 s for a reader to take a line and drops
// what finds the queue full, so that a listener that never reads holds up nothing.
#pragma once

#include "platform/EventLog.h"
#include "platform/Notifier.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ovled::win32 {

inline constexpr wchar_t kDiagnosticPipeName[] = L"\\\\.\\pipe\\OvLedService.Diagnostics";

void SendDiagnostic(std::wstring_view kind, std::wstring_view text) noexcept;

// One event in the application event log, from a source named `source`: message `id` of the executable's
// message table (platform/EventIds.h) with its inserts, of the type its severity says (error, warning,
// information); followed by `text` as an "event" line. Both are written by the diagnostic thread. Lost
// silently when the source cannot be opened.
void LogEvent(std::wstring_view source, std::uint32_t id, std::vector<std::wstring> inserts,
              std::wstring_view text) noexcept;

// Message `id` of the message table of `module` with `inserts` put in, as Event Viewer shows it (no line
// end); empty when the table has no such message. Missing inserts read as empty.
std::wstring FormatEventMessage(HMODULE module, std::uint32_t id, std::span<const std::wstring> inserts);

// The process's writer of platform::EventLog(): each message to the Application log under `source`, and
// its text, formatted from the executable's own table, to the diagnostic pipe.
class EventLogWriter final : public platform::IEventLog {
public:
    explicit EventLogWriter(std::wstring source) : m_source(std::move(source)) {}
    void Report(std::uint32_t id, std::span<const std::wstring> inserts) noexcept override;

private:
    const std::wstring m_source;
};

// Waits, for at most `patience`, until everything sent so far has been written or dropped. For the
// end of the process, after which nothing would be written; no lock may be held.
void FlushDiagnostics(std::chrono::milliseconds patience) noexcept;

// Whether a message box would reach a person: the process's window station is interactive, it is not
// Wine's invisible (null driver) desktop, and the environment variable OVLED_NO_MESSAGE_BOXES (set by
// unattended installs and by the tests) is absent.
bool CanShowMessageBoxes() noexcept;

// A real message box with no owner, MB_OK; for interactive registration runs.
class MessageBoxNotifier final : public platform::INotifier {
public:
    void Notify(std::wstring_view text, std::wstring_view caption) noexcept override;
};

// Never blocks: the text goes to the debug output and the diagnostic pipe.
class DiagnosticNotifier final : public platform::INotifier {
public:
    void Notify(std::wstring_view text, std::wstring_view caption) noexcept override;
};

} // namespace ovled::win32
