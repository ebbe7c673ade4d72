// Where the service host's messages go besides their own channels (the event log, message boxes):
// a diagnostic named pipe. Wine's event log keeps nothing and a service's desktop is nobody's, so a
// test or a support tool that wants to see the status reports, events and notices of any process of
// the executable (the service included) listens on the pipe; when no one listens nothing is written.
// Each line is "<process id> <kind> <text>", kind being "status", "event" or "notice".
// Any thread may send, and a send never waits: the lines (and the service's events) are written in
// order by one thread of their own, which waits at most 1 s for a reader to take a line and drops
// what finds the queue full, so that a listener that never reads holds up nothing.
#pragma once

#include "platform/Notifier.h"

#include <chrono>
#include <string_view>

namespace ovled::win32 {

inline constexpr wchar_t kDiagnosticPipeName[] = L"\\\\.\\pipe\\OvLedService.Diagnostics";

void SendDiagnostic(std::wstring_view kind, std::wstring_view text) noexcept;

// One information event in the application event log, from a source named `source`, followed by the
// same text as an "event" line; both are written by the diagnostic thread. Lost silently when the
// source cannot be opened.
void LogEvent(std::wstring_view source, std::wstring_view text) noexcept;

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
