#include "lighting/win32/PowerEventWindow.h"

#include "lighting/LightingManager.h"
#include "lighting/PowerEvents.h"
#include "lighting/win32/ConsoleWatch.h"
#include "platform/Com.h"
#include "platform/win32/SystemLibrary.h"

#include <wtsapi32.h>

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

// What the window procedure serves: the power broadcasts' queue, and the console's state for the rules.
class WindowContext {
public:
    WindowContext(PowerEventQueue& queue, PowerWindowHolder& holder, LightingManager& manager) noexcept
        : queue(queue), m_holder(holder), m_manager(manager)
    {
    }
    ~WindowContext() { StopWatching(); }

    // Registers the window for the session and display notifications, once. wtsapi32.dll is not a known
    // DLL of the system: it comes from System32 by name.
    void Watch(HWND window)
    {
        if (m_watching)
            return;
        m_watching = true;
        m_window = window;
        using Register = BOOL(WINAPI*)(HWND, DWORD);
        static const Register watch = SystemFunction<Register>(L"wtsapi32.dll", "WTSRegisterSessionNotification");
        m_sessions = watch && watch(window, NOTIFY_FOR_ALL_SESSIONS);
        // The display's state comes at once and at every change.
        m_display = RegisterPowerSettingNotification(window, &GUID_CONSOLE_DISPLAY_STATE, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    void StopWatching() noexcept
    {
        using Unregister = BOOL(WINAPI*)(HWND);
        static const Unregister unwatch =
            SystemFunction<Unregister>(L"wtsapi32.dll", "WTSUnRegisterSessionNotification");
        if (m_sessions && unwatch)
            unwatch(m_window);
        if (m_display)
            UnregisterPowerSettingNotification(m_display);
        m_sessions = false;
        m_display = nullptr;
    }
    // The holder's console state, as the service's handler reported it.
    void ApplyReported()
    {
        if (const int locked = m_holder.consoleLocked.load(); locked >= 0)
            m_manager.SetSessionLocked(locked != 0);
        if (const int off = m_holder.displayOff.load(); off >= 0)
            m_manager.SetDisplayOff(off != 0);
    }
    void SessionChanged(WPARAM event, LPARAM session)
    {
        if (const auto locked = ConsoleLockedAfterEvent(static_cast<DWORD>(event), static_cast<DWORD>(session)))
            m_manager.SetSessionLocked(*locked);
    }
    void SettingChanged(LPARAM setting)
    {
        if (const auto off = DisplayOffFromSetting(reinterpret_cast<const POWERBROADCAST_SETTING*>(setting)))
            m_manager.SetDisplayOff(*off);
    }

    PowerEventQueue& queue;

private:
    PowerWindowHolder& m_holder;
    LightingManager& m_manager;
    HWND m_window = nullptr;
    bool m_watching = false;
    bool m_sessions = false;
    HPOWERNOTIFY m_display = nullptr;
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
        } else if (auto* context = reinterpret_cast<WindowContext*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            if (message == WM_POWERBROADCAST && wParam == PBT_POWERSETTINGCHANGE)
                context->SettingChanged(lParam);
            else if (message == WM_POWERBROADCAST)
                context->queue.Deliver(static_cast<unsigned>(wParam));
            else if (message == WM_WTSSESSION_CHANGE)
                context->SessionChanged(wParam, lParam);
            else if (message == kWatchConsoleMessage)
                context->Watch(window);
            else if (message == kConsoleStateMessage)
                context->ApplyReported();
        }
    } catch (...) {
        // No memory to queue the broadcast: it is lost, the window keeps serving.
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreatePowerWindow(WindowContext& context)
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
                                        CW_USEDEFAULT, 0, nullptr, nullptr, instance, &context);
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
        WindowContext context(queue, holder, manager);

        const HWND window = CreatePowerWindow(context);
        holder.window.store(window);
        // What came before the window: the service's reports, a local server's request to watch. A
        // console that was locked before the start sends no event: it is asked.
        context.ApplyReported();
        if (holder.consoleLocked.load() < 0) {
            if (const auto locked = ConsoleLockedAfterEvent(WTS_CONSOLE_CONNECT, WTSGetActiveConsoleSessionId()))
                manager.SetSessionLocked(*locked);
        }
        if (window && holder.watchConsole.load())
            context.Watch(window);
        holder.ready.Set();
        // Without a window the loop still runs: the thread simply receives no power events. A stop that
        // came while the manager was being built found no window to close.
        MSG message;
        while (!holder.stopRequested.load() && GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        holder.window.store(nullptr);
        context.StopWatching();
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

void WatchConsole(PowerWindowHolder& holder) noexcept
{
    holder.watchConsole.store(true);
    if (const HWND window = holder.window.load())
        PostMessageW(window, kWatchConsoleMessage, 0, 0);
}

void ReportConsoleLocked(PowerWindowHolder& holder, bool locked) noexcept
{
    holder.consoleLocked.store(locked ? 1 : 0);
    if (const HWND window = holder.window.load())
        PostMessageW(window, kConsoleStateMessage, 0, 0);
}

void ReportDisplayOff(PowerWindowHolder& holder, bool off) noexcept
{
    holder.displayOff.store(off ? 1 : 0);
    if (const HWND window = holder.window.load())
        PostMessageW(window, kConsoleStateMessage, 0, 0);
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
