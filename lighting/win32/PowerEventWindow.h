// The power event window: a hidden top-level window, with a thread of its own, that receives
// WM_POWERBROADCAST and hands it to the PowerEventHandler. The same thread builds the lighting manager
// first (through the process's root), so the stored modes take effect as soon as the process runs, and
// holds a thread session (its firmware connection) for its life. Started by the process entry right
// after the root; at the end of the process the entry asks it to end, so that its session is released.
// The thread is a multithreaded apartment: while a broadcast sent from another process is handled, COM
// refuses outgoing calls from a single-threaded one, and its waits there deliver sent messages. The
// handler is never entered twice at once even so: a broadcast delivered by any wait that pumps messages
// on this thread is queued and handled when the one in hand returns.
// The window also hands the console's lock and display state to the lights-off rules: in a local server
// it registers for the session and display notifications itself (WatchConsole); in the service, whose
// window lives in no user's session, the control handler decodes them and reports them here.
#pragma once

#include "lighting/LightingRoot.h"
#include "platform/Event.h"

#include <windows.h>

#include <atomic>
#include <chrono>

namespace ovled::win32 {

// Both the window class and the window title.
inline constexpr wchar_t kPowerWindowName[] = L"Orvex LED Service";

// What the process posts to the window.
inline constexpr UINT kWatchConsoleMessage = WM_APP + 1; // register for session and display notifications
inline constexpr UINT kConsoleStateMessage = WM_APP + 2; // the holder's console state changed

// Handed to the window thread, which writes the window handle into it. Allocated by the process entry
// and never freed (the thread may outlive every other owner).
struct PowerWindowHolder {
    explicit PowerWindowHolder(ILightingRoot& root) noexcept : lighting(root) {}

    std::atomic<HWND> window{nullptr};
    std::atomic<DWORD> threadId{0};
    // The manager and the devices (for the power events' temporary controllers) the window serves.
    ILightingRoot& lighting;
    // Set once the window exists (or could not be created) and its message loop is about to run.
    platform::AutoResetEvent ready;
    // Set by StopPowerWindowThread; the thread's loop ends at its next message.
    std::atomic<bool> stopRequested{false};
    // Set when the thread has released its session and left COM, as its last act.
    platform::AutoResetEvent finished;
    // The console's last reported state: -1 unknown, 0 no, 1 yes. Kept here so that a report that comes
    // before the window exists is applied when it does.
    std::atomic<int> consoleLocked{-1};
    std::atomic<int> displayOff{-1};
    std::atomic<bool> watchConsole{false};
};

// The thread procedure: COM for the thread, its session, the lighting manager, the window, its message
// loop.
void __cdecl PowerWindowThreadProc(void* holder);

// Allocates a holder and starts the thread with the C runtime's simple thread start. Null (and no
// thread) when the holder or the thread cannot be made; the caller carries on either way. `lighting`
// must live as long as the process.
PowerWindowHolder* StartPowerWindowThread(ILightingRoot& lighting) noexcept;

// A local server's window registers for the console's session and display notifications.
void WatchConsole(PowerWindowHolder& holder) noexcept;
// The service's control handler reports what the notifications said.
void ReportConsoleLocked(PowerWindowHolder& holder, bool locked) noexcept;
void ReportDisplayOff(PowerWindowHolder& holder, bool off) noexcept;

// Asks the thread to end (closes its window, or ends its loop when it has none) and waits at most
// `patience` for it. True when it ended.
bool StopPowerWindowThread(PowerWindowHolder& holder, std::chrono::milliseconds patience) noexcept;

} // namespace ovled::win32
