// MainWindow: the app's window and its tray icon. It shows the worker's snapshots (a row per device, the
// brightness, the lights-off rules, the status line), turns what a person does into changes for the
// service, and keeps the tray icon and its menu. Closing it keeps the app in the tray, unless the tray is
// turned off. Built, run and destroyed on the app's UI thread; the worker reaches it only by posting.
#pragma once

#include "app/AppOptions.h"
#include "app/ServiceWorker.h"
#include "app/win32/DeviceRows.h"
#include "app/win32/Layout.h"
#include "app/win32/TrayIcon.h"
#include "platform/win32/Unique.h"

#include <chrono>
#include <memory>
#include <optional>

namespace ovled::app::win32 {

class MainWindow {
public:
    MainWindow(AppOptions options, std::unique_ptr<ILightingConnector> connector);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window (shown when `show`), the tray icon (when the option is on) and the worker.
    bool Create(bool show);
    HWND Handle() const noexcept { return m_window.get(); }
    // The message loop's share: keyboard navigation and mnemonics; true when the message was handled.
    bool PreTranslate(MSG& message);

    // The window's class name, and the message another start of the app sends to bring the window up.
    static const wchar_t* ClassName() noexcept;
    static UINT OpenMessage() noexcept;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void CreateControls();
    void LoadFontAndIcons();
    HFONT Font() const noexcept;
    void Layout();
    void FitWindow();
    void ScrollTo(int position);
    void ScrollIntoView(HWND control);
    void Open();
    void Close();
    void Refresh();
    void ShowSnapshot(const Snapshot& snapshot, bool force);
    void ShowStatus(const Snapshot& snapshot);
    void UpdateTray();
    void ShowTrayMenu();
    void OnCommand(int id, int code, HWND control);
    void OnTrayCommand(int id);
    void ApplyNightTime(int id);
    void Post(Command command, HWND control);
    void SetOption(bool AppOptions::*option, int id);
    HWND Control(int id) const noexcept { return GetDlgItem(m_window.get(), id); }

    AppOptions m_options;
    std::unique_ptr<ILightingConnector> m_connector; // until the worker takes it
    ovled::win32::UniqueWindow m_window; // destroyed first, while the members below that its children use are here
    ovled::win32::UniqueFont m_font;
    ovled::win32::UniqueIcon m_appIcon;
    ovled::win32::UniqueIcon m_appIconSmall;
    ovled::win32::UniqueIcon m_trayIcons[3]; // TrayIconKind: on, off, problem
    std::unique_ptr<DeviceRows> m_rows;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<ServiceWorker> m_worker;
    Placer m_placer;
    int m_contentHeight = 0;
    Snapshot m_shown;
    bool m_shownOnce = false;
    bool m_drawnReported = false;
    bool m_trayReady = false; // a start with the window adds the icon after its first paint
    HWND m_lastFocus = nullptr;
    // The control a person just changed keeps what they chose until the service has had time to answer.
    HWND m_held = nullptr;
    std::chrono::steady_clock::time_point m_heldUntil{};
};

} // namespace ovled::app::win32
