// Where the service host's messages go besides their own channels (the event log, message boxes):
// a diagnostic named pipe. Wine's event log keeps nothing and a service's desktop is nobody's, so a
// test or a support tool that wants to see the status reports, events and notices of any process of
// the executable (the service included) listens on the pipe; when no one listens nothing is written.
// Each line is "<process id> <kind> <text>", kind being "status", "event" or "notice".
// Any thread may send; a send never blocks for long.
#pragma once

#include "platform/Notifier.h"

#include <string_view>

namespace ovled::win32 {

inline constexpr wchar_t kDiagnosticPipeName[] = L"\\\\.\\pipe\\OvLedService.Diagnostics";

void SendDiagnostic(std::wstring_view kind, std::wstring_view text) noexcept;

// One information event in the application event log, from a source named `source`; lost silently
// when the source cannot be opened.
void WriteEventLog(std::wstring_view source, std::wstring_view text) noexcept;

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
