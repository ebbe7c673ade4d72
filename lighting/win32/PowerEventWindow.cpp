#include "lighting/win32/PowerEventWindow.h"

#include "lighting/LightingManager.h"
#include "lighting/PowerEvents.h"

#include <objbase.h>
#include <process.h>

#include <new>

namespace ovled::win32 {
namespace {

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
            if (auto* handler = reinterpret_cast<PowerEventHandler*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
                handler->OnPowerBroadcast(static_cast<unsigned>(wParam));
        }
    } catch (...) {
        // A failed power action leaves the LEDs as they are; the window keeps serving.
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreatePowerWindow(PowerEventHandler& handler)
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
                                        CW_USEDEFAULT, 0, nullptr, nullptr, instance, &handler);
    if (window) {
        ShowWindow(window, SW_HIDE);
        UpdateWindow(window);
    }
    return window;
}

} // namespace

void __cdecl PowerWindowThreadProc(void* parameter)
{
    auto& holder = *static_cast<PowerWindowHolder*>(parameter);
    try {
        (void)CoInitialize(nullptr);
        LightingManager& manager = holder.lighting.Manager(); // built here, which applies the stored modes
        (void)manager.GetModeByIndex(kOnboardDevice);
        PowerEventHandler handler(manager, holder.lighting.Devices());

        holder.window.store(CreatePowerWindow(handler));
        holder.ready.Set();
        // Without a window the loop still runs: the thread simply receives no power events.
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    } catch (...) {
        holder.ready.Set();
    }
}

bool StartPowerWindowThread(ILightingRoot& lighting) noexcept
{
    auto* holder = new (std::nothrow) PowerWindowHolder(lighting);
    if (!holder)
        return false;
    if (_beginthread(PowerWindowThreadProc, 0, holder) == static_cast<uintptr_t>(-1)) {
        delete holder;
        return false;
    }
    return true;
}

} // namespace ovled::win32
