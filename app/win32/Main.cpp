// OvLedLighting.exe: the per-user lighting app. A logon start (/logon, from the machine's Run key) ends at
// once for a user who turned it off; a second start brings the running app's window up and ends.
#include "app/AppOptions.h"
#include "app/win32/ComLighting.h"
#include "app/win32/MainWindow.h"
#include "app/win32/OptionsStore.h"
#include "platform/win32/Unique.h"

#include <windows.h>

#include <commctrl.h>

using namespace ovled::app;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    try {
        const AppOptions options = win32::LoadOptions();
        const StartMode start = DecideStart(commandLine ? commandLine : L"", options);
        if (start == StartMode::Exit)
            return 0;

        // One app per session: a second start hands its wish to the first.
        const ovled::win32::UniqueHandle instance(CreateMutexW(nullptr, FALSE, L"Local\\OvLedLighting.Running"));
        if (instance && GetLastError() == ERROR_ALREADY_EXISTS) {
            if (start == StartMode::Window) {
                if (HWND running = FindWindowW(win32::MainWindow::ClassName(), nullptr)) {
                    DWORD process = 0;
                    GetWindowThreadProcessId(running, &process);
                    AllowSetForegroundWindow(process);
                    PostMessageW(running, win32::MainWindow::OpenMessage(), 0, 0);
                }
            }
            return 0;
        }

        // The manifest asks for per-monitor DPI awareness (v2); this is for a copy run without it.
        SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);

        win32::MainWindow window(options, win32::MakeComConnector());
        if (!window.Create(start == StartMode::Window))
            return 1;
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (window.PreTranslate(message))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        return 0;
    } catch (...) {
        return 1;
    }
}
