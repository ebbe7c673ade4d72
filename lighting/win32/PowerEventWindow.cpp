#include "lighting/win32/PowerEventWindow.h"

#include "lighting/LightingManager.h"
#include "lighting/PowerEvents.h"
#include "platform/Com.h"

#include <objbase.h>
#include <process.h>

#include <deque>
#include <new>

namespace ovled::win32 {
namespace {

// The window's broadcasts, handed to the handler one at a time. Window thread only.
class PowerEventQueue {
public:
    explicit PowerEventQueue(PowerEventHandler& handler) noexcept : m_handler(handler) {}

    // A broadcast that arrives while an earlier one is being handled further up this thread's stack
    // (inside a wait that delivers sent messages) is queued; the outer call handles it when it is done.
    void Deliver(unsigned event)
    {
        m_pending.push_back(event);
        if (m_busy)
            return;
        m_busy = true;
        while (!m_pending.empty()) {
            const unsigned next = m_pending.front();
            m_pending.pop_front();
            try {
                m_handler.OnPowerBroadcast(next);
            } catch (...) {
                // A failed power action leaves the LEDs as they are; the window keeps serving.
            }
        }
        m_busy = false;
    }

private:
    PowerEventHandler& m_handler;
    std::deque<unsigned> m_pending;
    bool m_busy = false;
};

LRESULT CALLBACK PowerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    try {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        } else if (message == WM_DESTROY) {
            PostQuitMessage(0);
            return 0;
        } else if (message == WM_POWERBROADCAST) {
            if (auto* queue = reinterpret_cast<PowerEventQueue*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
                queue->Deliver(static_cast<unsigned>(wParam));
        }
    } catch (...) {
        // No memory to queue the broadcast: it is lost, the window keeps serving.
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreatePowerWindow(PowerEventQueue& queue)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = PowerWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hIconSm = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kPowerWindowName;
    (void)RegisterClassExW(&windowClass); // a second window thread finds the class registered

    const HWND window = CreateWindowExW(0, kPowerWindowName, kPowerWindowName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                        CW_USEDEFAULT, 0, nullptr, nullptr, instance, &queue);
    if (window) {
        ShowWindow(window, SW_HIDE);
        UpdateWindow(window);
    }
    return window;
}

void ServeWindow(PowerWindowHolder& holder)
{
    // Power broadcasts are messages sent from another process. While one is handled, COM refuses an
    // outgoing call from a single-threaded apartment (RPC_E_CANTCALLOUT_ININPUTSYNCCALL), so the
    // firmware calls of a suspend or a resume need this thread in the multithreaded apartment, where a
    // call's wait also delivers no messages to re-enter the window procedure. No COM object lives on
    // this thread, so nothing needs its messages pumped. The lighting code's own CoInitialize calls on
    // this thread then fail with RPC_E_CHANGED_MODE and add nothing to undo. Declared in this order, the
    // session ends before the apartment.
    const platform::ComApartment apartment(platform::ApartmentKind::MultiThreaded);
    const auto session = holder.lighting.Sessions().Begin();
    try {
        LightingManager& manager = holder.lighting.Manager(); // built here, which applies the stored modes
        (void)manager.GetModeByIndex(kOnboardDevice);
        PowerEventHandler handler(manager, holder.lighting.Devices());
        PowerEventQueue queue(handler);

        const HWND window = CreatePowerWindow(queue);
        holder.window.store(window);
        holder.ready.Set();
        // Without a window the loop still runs: the thread simply receives no power events. A stop that
        // came while the manager was being built found no window to close.
        MSG message;
        while (!holder.stopRequested.load() && GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        holder.window.store(nullptr);
        if (window && IsWindow(window)) {
            // Ended without its WM_CLOSE: nothing may reach the queue, which ends here.
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            DestroyWindow(window);
        }
    } catch (...) {
        holder.ready.Set();
    }
}

} // namespace

void __cdecl PowerWindowThreadProc(void* parameter)
{
    auto& holder = *static_cast<PowerWindowHolder*>(parameter);
    holder.threadId.store(GetCurrentThreadId());
    try {
        ServeWindow(holder);
    } catch (...) {
        holder.ready.Set();
    }
    holder.finished.Set();
}

PowerWindowHolder* StartPowerWindowThread(ILightingRoot& lighting) noexcept
{
    auto* holder = new (std::nothrow) PowerWindowHolder(lighting);
    if (!holder)
        return nullptr;
    if (_beginthread(PowerWindowThreadProc, 0, holder) == static_cast<uintptr_t>(-1)) {
        delete holder;
        return nullptr;
    }
    return holder;
}

bool StopPowerWindowThread(PowerWindowHolder& holder, std::chrono::milliseconds patience) noexcept
{
    try {
        // The thread may still be building the manager; it looks at the flag before its loop.
        holder.stopRequested.store(true);
        if (const HWND window = holder.window.load())
            PostMessageW(window, WM_CLOSE, 0, 0);
        else if (const DWORD thread = holder.threadId.load())
            PostThreadMessageW(thread, WM_QUIT, 0, 0);
        return holder.finished.WaitFor(patience);
    } catch (...) {
        return false;
    }
}

} // namespace ovled::win32
