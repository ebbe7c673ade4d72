// The notification-area icon: added, changed and removed with Shell_NotifyIconW, and added again when
// the taskbar is created anew (an explorer that restarted forgets every icon). Owned by the main window;
// its thread only.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace ovled::app::win32 {

class TrayIcon {
public:
    // `message` is what the owner receives for the icon's mouse and keyboard events (version 4 events).
    TrayIcon(HWND owner, UINT message) noexcept : m_owner(owner), m_message(message) {}
    ~TrayIcon() { Remove(); }
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Adds the icon, or changes it; the icon stays the caller's and must outlive its use here.
    void Show(HICON icon, const std::wstring& tip);
    void Remove() noexcept;
    // After "TaskbarCreated": the icon again, as it was.
    void Restore();
    bool Shown() const noexcept { return m_added; }

private:
    NOTIFYICONDATAW Data(UINT flags) const;

    HWND m_owner;
    UINT m_message;
    bool m_added = false;
    HICON m_icon = nullptr;
    std::wstring m_tip;
};

// The message the taskbar broadcasts when it is created (again).
UINT TaskbarCreatedMessage() noexcept;

} // namespace ovled::app::win32
