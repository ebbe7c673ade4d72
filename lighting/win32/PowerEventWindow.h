// The power event window: a hidden top-level window, with a thread of its own, that receives
// WM_POWERBROADCAST and hands it to the PowerEventHandler. The same thread builds the lighting manager
// first (through the process's root), so the stored modes take effect as soon as the process runs.
// Started by the process entry right after the root; the thread runs for the life of the process and is
// never joined.
#pragma once

#include "lighting/LightingRoot.h"
#include "platform/Event.h"

#include <windows.h>

#include <atomic>

namespace ovled::win32 {

// Both the window class and the window title.
inline constexpr wchar_t kPowerWindowName[] = L"Orvex LED Service";

// Handed to the window thread, which writes the window handle into it. Allocated by the process entry
// and never freed (the thread may outlive every other owner).
struct PowerWindowHolder {
    explicit PowerWindowHolder(ILightingRoot& root) noexcept : lighting(root) {}

    std::atomic<HWND> window{nullptr};
    // The manager and the devices (for the power events' temporary controllers) the window serves.
    ILightingRoot& lighting;
    // Set once the window exists (or could not be created) and its message loop is about to run.
    platform::AutoResetEvent ready;
};

// The thread procedure: COM for the thread, the lighting manager, the window, its message loop.
void __cdecl PowerWindowThreadProc(void* holder);

// Allocates a holder and starts the thread with the C runtime's simple thread start. False (and no
// thread) when the holder or the thread cannot be made; the caller carries on either way. `lighting`
// must live as long as the process.
bool StartPowerWindowThread(ILightingRoot& lighting) noexcept;

} // namespace ovled::win32
