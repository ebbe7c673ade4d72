// ovledappprobe: what the running lighting app's window shows, read from another process as a screen
// reader would, for the end-to-end test (tests/app/). Every read is a message with a time limit, so a
// window that does not answer is told apart from one that says something else.
//   ovledappprobe status     the status line (its lines joined by " | ")
//   ovledappprobe controls   a JSON line per child control: id, class, text, rectangle, visible, enabled,
//                            tab stop, checked, focused
//   ovledappprobe started    the milliseconds from the app's process creation to its window's first paint
//   ovledappprobe tray       whether the notification area has the app's icon (0 yes, 4 no)
//   ovledappprobe tray-lose  takes the icon away, as a taskbar that restarts forgets every icon
//   ovledappprobe taskbar-created   what a taskbar that (re)starts broadcasts
// Exit status: 0 read, 2 the window did not answer within 1 s, 3 no window, 4 no icon.
#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr UINT kPatienceMs = 1000;
constexpr int kStatusId = 100; // the status line's control id (app/win32/MainWindow.cpp)

bool ReadText(HWND window, std::wstring& text)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kPatienceMs, &length))
        return false;
    text.assign(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             kPatienceMs, &copied))
        return false;
    text.resize(copied);
    return true;
}

std::string Utf8(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\r')
            continue;
        if (c == L'\n') {
            out += " | ";
        } else if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            char bytes[8] = {};
            const int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, bytes, sizeof bytes, nullptr, nullptr);
            out.append(bytes, static_cast<std::size_t>(n > 0 ? n : 0));
        }
    }
    return out;
}

struct Listing {
    HWND parent;
    HWND focus; // the app's thread's focus
    bool answered = true;
};

BOOL CALLBACK ListControl(HWND control, LPARAM context)
{
    auto& listing = *reinterpret_cast<Listing*>(context);
    std::wstring text;
    if (!ReadText(control, text)) {
        listing.answered = false;
        return FALSE;
    }
    wchar_t windowClass[64] = {};
    GetClassNameW(control, windowClass, 64);
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, listing.parent, reinterpret_cast<POINT*>(&rect), 2);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    DWORD_PTR checked = 0;
    if (std::wstring(windowClass) == L"Button")
        SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kPatienceMs, &checked);
    std::printf("{\"id\":%d,\"class\":\"%s\",\"text\":\"%s\",\"x\":%ld,\"y\":%ld,\"w\":%ld,\"h\":%ld,\"visible\":%d,"
                "\"enabled\":%d,\"tabstop\":%d,\"checked\":%d,\"focused\":%d}\n",
                GetDlgCtrlID(control), Utf8(windowClass).c_str(), Utf8(text).c_str(), rect.left, rect.top,
                rect.right - rect.left, rect.bottom - rect.top, IsWindowVisible(control) ? 1 : 0,
                IsWindowEnabled(control) ? 1 : 0, (style & WS_TABSTOP) ? 1 : 0, checked == BST_CHECKED ? 1 : 0,
                control == listing.focus ? 1 : 0);
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc == 2 ? argv[1] : L"";
    HWND window = FindWindowW(L"OvLedLighting.MainWindow", nullptr);
    if (!window)
        return 3;
    if (command == L"status") {
        std::wstring text;
        if (!ReadText(GetDlgItem(window, kStatusId), text))
            return 2;
        std::printf("%s\n", Utf8(text).c_str());
        return 0;
    }
    if (command == L"started") {
        // The app keeps the figure as a window property, plus one (app/win32/MainWindow.cpp).
        const auto value = reinterpret_cast<std::uintptr_t>(GetPropW(window, L"OvLedLighting.StartMilliseconds"));
        if (!value)
            return 2;
        std::printf("%llu\n", static_cast<unsigned long long>(value - 1));
        return 0;
    }
    if (command == L"tray" || command == L"tray-lose") {
        // The app's icon is its window's icon 1 (app/win32/TrayIcon.cpp). A change of nothing succeeds
        // only for an icon that is there.
        NOTIFYICONDATAW icon{};
        icon.cbSize = sizeof icon;
        icon.hWnd = window;
        icon.uID = 1;
        if (command == L"tray-lose")
            return Shell_NotifyIconW(NIM_DELETE, &icon) ? 0 : 4;
        return Shell_NotifyIconW(NIM_MODIFY, &icon) ? 0 : 4;
    }
    if (command == L"taskbar-created") {
        DWORD_PTR unused = 0;
        return SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG,
                                   kPatienceMs, &unused)
                   ? 0
                   : 2;
    }
    if (command == L"controls") {
        GUITHREADINFO thread{sizeof thread};
        GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread);
        Listing listing{window, thread.hwndFocus};
        RECT client{};
        GetClientRect(window, &client);
        std::printf("{\"client_w\":%ld,\"client_h\":%ld}\n", client.right, client.bottom);
        EnumChildWindows(window, ListControl, reinterpret_cast<LPARAM>(&listing));
        return listing.answered ? 0 : 2;
    }
    std::fprintf(stderr, "usage: ovledappprobe status | controls | started | tray | tray-lose | taskbar-created\n");
    return 1;
}
