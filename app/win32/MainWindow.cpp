#include "app/win32/MainWindow.h"

#include "app/Presentation.h"
#include "app/StringIds.h"
#include "app/win32/Controls.h"
#include "app/win32/OptionsStore.h"
#include "app/win32/Strings.h"
#include "service/Identifiers.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>

namespace ovled::app::win32 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT kSnapshotMessage = WM_APP + 1;
constexpr UINT kTrayMessage = WM_APP + 2;
constexpr UINT_PTR kWatchdogTimer = 1;
// The start's time in milliseconds, plus one (a property of 0 is none).
constexpr wchar_t kStartTimeProperty[] = L"OvLedLighting.StartMilliseconds";
constexpr UINT kWatchdogPeriodMs = 1000;
// How long a control a person changed keeps their choice against older answers of the service.
constexpr auto kHold = std::chrono::milliseconds(1500);

enum ControlId {
    kStatusId = 100,
    kDevicesHeaderId,
    kBrightnessLabelId = 110,
    kBrightnessId,
    kBrightnessValueId,
    kRulesHeaderId = 120,
    kOffLockedId,
    kOffDisplayId,
    kOffNightId,
    kFromLabelId,
    kFromId,
    kToLabelId,
    kToId,
    kLightsOffHeaderId = 130,
    kOff30Id,
    kOff60Id,
    kOffUntilOnId,
    kLightsOnId,
    kOptionsHeaderId = 140,
    kShowTrayId,
    kStartAtLogonId,
};

enum MenuId { kMenuAllMusic = 200, kMenuAllThermal, kMenuOff1h, kMenuLightsOn, kMenuOpen, kMenuExit };

// The controls that act on the lighting, disabled while the service cannot take a change.
constexpr int kLightingControls[] = {kBrightnessId, kOffLockedId, kOffDisplayId, kOffNightId, kFromId,
                                     kToId,         kOff30Id,     kOff60Id,      kOffUntilOnId, kLightsOnId};

BOOL CALLBACK SetChildFont(HWND child, LPARAM font)
{
    SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    return TRUE;
}

// The time from the process's creation to the first paint of its shown window: in the debug output (for
// DebugView on a slow machine) and as the window's property kStartTimeProperty (for the end-to-end
// test's figures, read from another process).
void ReportStartTime(HWND window)
{
    FILETIME created{};
    FILETIME unused{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &unused, &unused, &unused))
        return;
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    const unsigned long long milliseconds = (ticks(now) - ticks(created)) / 10000;
    SetPropW(window, kStartTimeProperty, reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(milliseconds + 1)));
    wchar_t text[96];
    std::swprintf(text, std::size(text), L"OvLedLighting: window drawn %llu ms after the process started\n",
                  milliseconds);
    OutputDebugStringW(text);
}

bool Checked(HWND button)
{
    return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

} // namespace

MainWindow::MainWindow(AppOptions options, std::unique_ptr<ILightingConnector> connector)
    : m_options(options), m_connector(std::move(connector))
{
}

MainWindow::~MainWindow()
{
    // A window still open goes first, while everything its last messages use is here: WM_DESTROY takes
    // the tray icon and the rows away, and the controls draw with the font and the icons until they are
    // destroyed. The worker after it: its posts to a window that is gone go nowhere.
    if (m_window)
        DestroyWindow(m_window.get());
    m_worker.reset();
    m_tray.reset();
    m_rows.reset();
}

const wchar_t* MainWindow::ClassName() noexcept
{
    return L"OvLedLighting.MainWindow";
}

UINT MainWindow::OpenMessage() noexcept
{
    static const UINT message = RegisterWindowMessageW(L"OvLedLighting.Open");
    return message;
}

bool MainWindow::Create(bool show)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_3DFACE);
    windowClass.lpszClassName = ClassName();
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;
    HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, ClassName(), LoadText(IDS_APP_TITLE).c_str(),
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 400, 400, nullptr, nullptr, instance, this);
    if (!window)
        return false;
    // The shell's TaskbarCreated reaches an elevated process only when it lets it in.
    ChangeWindowMessageFilterEx(window, TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
    ChangeWindowMessageFilterEx(window, OpenMessage(), MSGFLT_ALLOW, nullptr);

    m_tray = std::make_unique<TrayIcon>(window, kTrayMessage);
    m_worker = std::make_unique<ServiceWorker>(std::move(m_connector),
                                               [window] { PostMessageW(window, kSnapshotMessage, 0, 0); });
    SetTimer(window, kWatchdogTimer, kWatchdogPeriodMs, nullptr);
    Refresh();
    m_drawnReported = !show; // a start in the tray draws nothing worth timing
    m_trayReady = !show;
    if (show)
        Open(); // the worker begins at the first paint
    else
        m_worker->Begin();
    return true;
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        if (message == WM_NCCREATE) {
            auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
            self->m_window.reset(window);
        }
        auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self)
            return self->Handle(message, wParam, lParam);
    } catch (...) {
        // Out of memory while building a text: the window keeps what it showed.
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND window = m_window.get();
    // Either may come while the window is being made, before the tray icon and the worker exist.
    if (message == TaskbarCreatedMessage()) {
        if (m_tray && m_options.trayIcon)
            m_tray->Restore();
        return 0;
    }
    if (message == OpenMessage()) {
        if (m_worker)
            Open();
        return 0;
    }
    switch (message) {
    case WM_CREATE:
        m_placer.dpi = GetDpiForWindow(window);
        LoadFontAndIcons();
        CreateControls();
        Layout();
        FitWindow();
        return 0;
    case kSnapshotMessage:
        Refresh();
        return 0;
    case WM_TIMER:
        if (wParam == kWatchdogTimer) {
            m_worker->Begin(); // in case no paint came
            Refresh();
        }
        return 0;
    case kTrayMessage:
        switch (LOWORD(lParam)) {
        case WM_LBUTTONUP:
        case NIN_SELECT:
        case NIN_KEYSELECT:
            Open();
            break;
        case WM_CONTEXTMENU:
        case WM_RBUTTONUP:
            ShowTrayMenu();
            break;
        default:
            break;
        }
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_HSCROLL:
        if (reinterpret_cast<HWND>(lParam) == Control(kBrightnessId)) {
            const int position = static_cast<int>(SendMessageW(Control(kBrightnessId), TBM_GETPOS, 0, 0));
            SetTextIfChanged(Control(kBrightnessValueId),
                             LoadText(IDS_BRIGHTNESS_VALUE, {std::to_wstring(position)}));
            // Every step is posted; the worker keeps only the latest one that waits.
            Post(Command{Command::Kind::SetBrightness, 0, position}, Control(kBrightnessId));
        }
        return 0;
    case WM_VSCROLL: {
        SCROLLINFO info{sizeof info, SIF_ALL};
        GetScrollInfo(window, SB_VERT, &info);
        int position = info.nPos;
        switch (LOWORD(wParam)) {
        case SB_LINEUP:
            position -= m_placer.Scale(kRowStep);
            break;
        case SB_LINEDOWN:
            position += m_placer.Scale(kRowStep);
            break;
        case SB_PAGEUP:
            position -= static_cast<int>(info.nPage);
            break;
        case SB_PAGEDOWN:
            position += static_cast<int>(info.nPage);
            break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
            position = info.nTrackPos;
            break;
        default:
            break;
        }
        ScrollTo(position);
        return 0;
    }
    case WM_MOUSEWHEEL:
        ScrollTo(m_placer.scroll - GET_WHEEL_DELTA_WPARAM(wParam) * m_placer.Scale(kRowStep) / WHEEL_DELTA);
        return 0;
    case WM_DRAWITEM:
        return m_rows && m_rows->Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
    case WM_NEXTDLGCTL: {
        // IsDialogMessage moves the focus with this message (a label's mnemonic: to the label, then on to
        // the control after it), and only a dialog box's own procedure answers it.
        HWND next = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                   : GetNextDlgTabItem(window, GetFocus(), static_cast<BOOL>(wParam != 0));
        if (next) {
            SetFocus(next);
            if (SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
                SendMessageW(next, EM_SETSEL, 0, -1);
        }
        return 0;
    }
    case WM_ACTIVATE:
        // As a dialog box does: the focus comes back to where it was.
        if (LOWORD(wParam) == WA_INACTIVE) {
            m_lastFocus = GetFocus();
        } else {
            HWND focus = m_lastFocus && IsChild(window, m_lastFocus) ? m_lastFocus
                                                                      : GetNextDlgTabItem(window, nullptr, FALSE);
            if (focus)
                SetFocus(focus);
        }
        return 0;
    case WM_SHOWWINDOW:
        if (m_worker)
            m_worker->SetVisible(wParam != FALSE);
        break;
    case WM_SIZE: // also sent while the window is made, before the worker exists
        if (m_worker && wParam == SIZE_MINIMIZED)
            m_worker->SetVisible(false);
        else if (m_worker && wParam == SIZE_RESTORED && IsWindowVisible(window))
            m_worker->SetVisible(true);
        break;
    case WM_DPICHANGED: {
        m_placer.dpi = HIWORD(wParam);
        LoadFontAndIcons();
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
        Layout();
        FitWindow();
        UpdateTray();
        return 0;
    }
    case WM_PAINT:
        if (!m_drawnReported && IsWindowVisible(window)) {
            // The first paint of the shown window: how long the start took, for whoever watches the
            // debug output (the end-to-end test's figures, DebugView on a slow machine).
            DefWindowProcW(window, message, wParam, lParam);
            m_drawnReported = true;
            ReportStartTime(window);
            m_worker->Begin();
            // The tray icon waited for the window: adding it is a call into the shell that costs tens of
            // milliseconds under Wine.
            m_trayReady = true;
            UpdateTray();
            return 0;
        }
        break;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_DESTROY:
        KillTimer(window, kWatchdogTimer);
        if (m_tray) // none while the window is being made
            m_tray->Remove();
        // The rows go while they are still the window's children: after it, their handles are no one's.
        m_rows.reset();
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        RemovePropW(window, kStartTimeProperty);
        // The system destroys the window: the handle is no longer ours to destroy.
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        m_window.release();
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void MainWindow::LoadFontAndIcons()
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ovled::win32::UniqueFont font;
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, m_placer.dpi))
        font.reset(CreateFontIndirectW(&metrics.lfMessageFont));
    // The controls take the new font before the old one is deleted.
    std::swap(m_font, font);
    if (m_rows)
        m_rows->SetFont(Font());
    if (m_window)
        EnumChildWindows(m_window.get(), SetChildFont, reinterpret_cast<LPARAM>(Font()));

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    auto load = [&](int id, int metric) {
        const int size = GetSystemMetricsForDpi(metric, m_placer.dpi);
        return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
    };
    m_appIcon.reset(load(IDI_APP, SM_CXICON));
    m_appIconSmall.reset(load(IDI_APP, SM_CXSMICON));
    const int trayIds[] = {IDI_TRAY_ON, IDI_TRAY_OFF, IDI_TRAY_PROBLEM};
    for (int i = 0; i < 3; ++i) {
        HICON icon = nullptr;
        // The shell's own size for notification icons, at the system's DPI.
        if (FAILED(LoadIconMetric(instance, MAKEINTRESOURCEW(trayIds[i]), LIM_SMALL, &icon)))
            icon = load(trayIds[i], SM_CXSMICON);
        m_trayIcons[i].reset(icon);
    }
    if (m_window) {
        SendMessageW(m_window.get(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_appIcon.get()));
        SendMessageW(m_window.get(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_appIconSmall.get()));
    }
}

HFONT MainWindow::Font() const noexcept
{
    // A stock object is never deleted, so it is not held in m_font.
    return m_font ? m_font.get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void MainWindow::CreateControls()
{
    HWND window = m_window.get();
    HFONT font = Font();
    auto label = [&](int id, int text) {
        MakeControl(window, WC_STATICW, LoadText(text), SS_LEFT, id, font);
    };
    auto button = [&](int id, int text, DWORD style) {
        MakeControl(window, WC_BUTTONW, LoadText(text), style | WS_TABSTOP, id, font);
    };
    // Creation order is the tab order, and a label comes right before the control it names.
    // A static, not a read-only edit: a multi-line edit takes the Tab key, and the keyboard would be
    // caught there after a click.
    MakeControl(window, WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, kStatusId, font);
    MakeControl(window, WC_STATICW, LoadText(IDS_DEVICES), SS_LEFT | SS_NOPREFIX, kDevicesHeaderId, font);
    m_rows = std::make_unique<DeviceRows>(window, Control(kDevicesHeaderId), font);

    label(kBrightnessLabelId, IDS_BRIGHTNESS);
    HWND brightness = MakeControl(window, TRACKBAR_CLASSW, L"", TBS_HORZ | TBS_AUTOTICKS | WS_TABSTOP, kBrightnessId,
                                  font);
    SendMessageW(brightness, TBM_SETRANGE, FALSE, MAKELPARAM(0, 100));
    SendMessageW(brightness, TBM_SETTICFREQ, 10, 0);
    SendMessageW(brightness, TBM_SETPAGESIZE, 0, 10);
    MakeControl(window, WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, kBrightnessValueId, font);

    MakeControl(window, WC_STATICW, LoadText(IDS_RULES), SS_LEFT | SS_NOPREFIX, kRulesHeaderId, font);
    button(kOffLockedId, IDS_OFF_LOCKED, BS_CHECKBOX);
    button(kOffDisplayId, IDS_OFF_DISPLAY, BS_CHECKBOX);
    button(kOffNightId, IDS_OFF_NIGHT, BS_CHECKBOX);
    label(kFromLabelId, IDS_NIGHT_FROM);
    MakeControl(window, WC_EDITW, L"", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, kFromId, font);
    label(kToLabelId, IDS_NIGHT_TO);
    MakeControl(window, WC_EDITW, L"", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, kToId, font);
    for (int id : {kFromId, kToId})
        SendMessageW(Control(id), EM_SETLIMITTEXT, 5, 0);

    MakeControl(window, WC_STATICW, LoadText(IDS_LIGHTS_OFF_LABEL), SS_LEFT | SS_NOPREFIX, kLightsOffHeaderId, font);
    button(kOff30Id, IDS_OFF_30_MIN, BS_PUSHBUTTON);
    button(kOff60Id, IDS_OFF_1_H, BS_PUSHBUTTON);
    button(kOffUntilOnId, IDS_OFF_UNTIL_ON, BS_PUSHBUTTON);
    button(kLightsOnId, IDS_LIGHTS_ON_BUTTON, BS_PUSHBUTTON);

    MakeControl(window, WC_STATICW, LoadText(IDS_APP_OPTIONS), SS_LEFT | SS_NOPREFIX, kOptionsHeaderId, font);
    button(kShowTrayId, IDS_SHOW_TRAY, BS_CHECKBOX);
    button(kStartAtLogonId, IDS_START_AT_LOGON, BS_CHECKBOX);
    SendMessageW(Control(kShowTrayId), BM_SETCHECK, m_options.trayIcon ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(Control(kStartAtLogonId), BM_SETCHECK, m_options.startAtLogon ? BST_CHECKED : BST_UNCHECKED, 0);
    // A logon start without the tray would show nothing: the option waits for the tray.
    EnableWindow(Control(kStartAtLogonId), m_options.trayIcon);
}

void MainWindow::Layout()
{
    const Placer& p = m_placer;
    const int width = kContentWidth - 2 * kMargin;
    int y = kMargin;
    p.Place(Control(kStatusId), kMargin, y, width, 36);
    y += 42;
    p.Place(Control(kDevicesHeaderId), kMargin, y, width, 17);
    y += 21;
    y = m_rows->Layout(p, y) + 6;

    p.Place(Control(kBrightnessLabelId), kMargin, y + 4, kLabelWidth, 17);
    p.Place(Control(kBrightnessId), kMargin + kLabelWidth, y, 220, 28);
    p.Place(Control(kBrightnessValueId), kMargin + kLabelWidth + 226, y + 4, 60, 17);
    y += 38;

    p.Place(Control(kRulesHeaderId), kMargin, y, width, 17);
    y += 21;
    p.Place(Control(kOffLockedId), kMargin, y, 190, kLine);
    p.Place(Control(kOffDisplayId), kMargin + 190, y, width - 190, kLine);
    y += kRowStep;
    p.Place(Control(kOffNightId), kMargin, y, 120, kLine);
    p.Place(Control(kFromLabelId), kMargin + 122, y + 4, 78, 17);
    p.Place(Control(kFromId), kMargin + 200, y, 52, kLine);
    p.Place(Control(kToLabelId), kMargin + 262, y + 4, 64, 17);
    p.Place(Control(kToId), kMargin + 326, y, 52, kLine);
    y += kRowStep + 10;

    p.Place(Control(kLightsOffHeaderId), kMargin, y, width, 17);
    y += 21;
    p.Place(Control(kOff30Id), kMargin, y, 112, kLine + 2);
    p.Place(Control(kOff60Id), kMargin + 118, y, 100, kLine + 2);
    p.Place(Control(kOffUntilOnId), kMargin + 224, y, width - 224, kLine + 2);
    y += kRowStep + 4;
    p.Place(Control(kLightsOnId), kMargin, y, 112, kLine + 2);
    y += kRowStep + 14;

    p.Place(Control(kOptionsHeaderId), kMargin, y, width, 17);
    y += 21;
    p.Place(Control(kShowTrayId), kMargin, y, 190, kLine);
    p.Place(Control(kStartAtLogonId), kMargin + 190, y, width - 190, kLine);
    y += kRowStep;
    m_contentHeight = y + kMargin;
    InvalidateRect(m_window.get(), nullptr, TRUE);
}

void MainWindow::FitWindow()
{
    HWND window = m_window.get();
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)) & ~WS_VSCROLL;
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    RECT frame{0, 0, m_placer.Scale(kContentWidth), m_placer.Scale(m_contentHeight)};
    AdjustWindowRectExForDpi(&frame, style, FALSE, exStyle, m_placer.dpi);
    RECT current{};
    GetWindowRect(window, &current);
    MONITORINFO monitor{sizeof monitor};
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    const int available = monitor.rcWork.bottom - monitor.rcWork.top;
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    // Taller than the screen (many strips, a large font): the window takes the screen's height and
    // scrolls.
    const bool scrolls = height > available;
    if (scrolls) {
        height = available;
        width += GetSystemMetricsForDpi(SM_CXVSCROLL, m_placer.dpi);
    }
    int top = current.top;
    if (top + height > monitor.rcWork.bottom)
        top = std::max<int>(monitor.rcWork.top, monitor.rcWork.bottom - height);
    SetWindowPos(window, nullptr, current.left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(window, &client);
    SCROLLINFO info{sizeof info, SIF_RANGE | SIF_PAGE};
    info.nMax = scrolls ? m_placer.Scale(m_contentHeight) - 1 : 0;
    info.nPage = scrolls ? static_cast<UINT>(client.bottom) : 0;
    SetScrollInfo(window, SB_VERT, &info, TRUE);
    ShowScrollBar(window, SB_VERT, scrolls);
    ScrollTo(scrolls ? m_placer.scroll : 0);
}

void MainWindow::ScrollTo(int position)
{
    SCROLLINFO info{sizeof info, SIF_RANGE | SIF_PAGE};
    GetScrollInfo(m_window.get(), SB_VERT, &info);
    const int limit = std::max(0, info.nMax + 1 - static_cast<int>(info.nPage));
    position = std::clamp(position, 0, limit);
    if (position == m_placer.scroll)
        return;
    m_placer.scroll = position;
    info.fMask = SIF_POS;
    info.nPos = position;
    SetScrollInfo(m_window.get(), SB_VERT, &info, TRUE);
    Layout();
}

void MainWindow::ScrollIntoView(HWND control)
{
    if (!control || GetParent(control) != m_window.get())
        return;
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, m_window.get(), reinterpret_cast<POINT*>(&rect), 2);
    RECT client{};
    GetClientRect(m_window.get(), &client);
    if (rect.top < 0)
        ScrollTo(m_placer.scroll + rect.top - m_placer.Scale(kMargin));
    else if (rect.bottom > client.bottom)
        ScrollTo(m_placer.scroll + rect.bottom - client.bottom + m_placer.Scale(kMargin));
}

bool MainWindow::PreTranslate(MSG& message)
{
    HWND window = m_window.get();
    if (!window || !IsWindowVisible(window) || !IsDialogMessageW(window, &message))
        return false;
    ScrollIntoView(GetFocus());
    return true;
}

void MainWindow::Open()
{
    HWND window = m_window.get();
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    else
        ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    m_worker->SetVisible(true);
}

void MainWindow::Close()
{
    if (m_options.trayIcon && m_tray->Shown()) {
        ShowWindow(m_window.get(), SW_HIDE);
        return;
    }
    DestroyWindow(m_window.get());
}

void MainWindow::Refresh()
{
    if (!m_worker || !m_rows)
        return;
    // A hold that ran out shows what the service says, even when it said nothing new meanwhile (a
    // refused change).
    const bool holdEnded = m_held && Clock::now() >= m_heldUntil;
    if (holdEnded)
        m_held = nullptr;
    ShowSnapshot(m_worker->Check(Clock::now()), holdEnded);
}

void MainWindow::ShowSnapshot(const Snapshot& snapshot, bool force)
{
    if (m_shownOnce && !force && snapshot == m_shown)
        return;
    m_shown = snapshot;
    m_shownOnce = true;
    const LightingState& state = snapshot.state;
    HWND held = Clock::now() < m_heldUntil ? m_held : nullptr;
    HWND focus = GetFocus();

    if (m_rows->Update(state.devices, Control(kDevicesHeaderId), held)) {
        Layout();
        FitWindow();
    }
    if (Control(kBrightnessId) != held) {
        SetPositionIfChanged(Control(kBrightnessId), state.brightness);
        SetTextIfChanged(Control(kBrightnessValueId),
                         LoadText(IDS_BRIGHTNESS_VALUE, {std::to_wstring(state.brightness)}));
    }
    const std::pair<int, bool> rules[] = {
        {kOffLockedId, state.offWhenLocked}, {kOffDisplayId, state.offWhenDisplayOff}, {kOffNightId, state.offAtNight}};
    for (const auto& [id, on] : rules) {
        if (Control(id) != held)
            SetCheckedIfChanged(Control(id), on);
    }
    if (focus != Control(kFromId))
        SetTextIfChanged(Control(kFromId), state.nightStart);
    if (focus != Control(kToId))
        SetTextIfChanged(Control(kToId), state.nightEnd);

    const bool enabled = snapshot.status == ServiceStatus::Running;
    if (!enabled && focus && IsChild(m_window.get(), focus) && focus != Control(kShowTrayId) &&
        focus != Control(kStartAtLogonId))
        SetFocus(Control(kShowTrayId)); // a disabled control would hold the keyboard
    m_rows->Enable(enabled);
    for (int id : kLightingControls)
        EnableWindow(Control(id), enabled);
    ShowStatus(snapshot);
    UpdateTray();
}

void MainWindow::ShowStatus(const Snapshot& snapshot)
{
    const StatusText status = StatusMessage(snapshot.status);
    std::wstring text = LoadText(status.message, {HresultText(snapshot.failure)});
    if (snapshot.status == ServiceStatus::Running && snapshot.known) {
        std::wstring reasons;
        for (int reason : OffReasonStrings(snapshot.state.offReasons))
            reasons += (reasons.empty() ? L"" : LoadText(IDS_REASON_SEPARATOR)) + LoadText(reason);
        text += L" " + (snapshot.state.lightsOn ? LoadText(IDS_LIGHTS_ON) : LoadText(IDS_LIGHTS_OFF, {reasons}));
    }
    if (status.suggestion)
        text += L"\r\n" + LoadText(status.suggestion, {service::kServiceName});
    else if (snapshot.refused != kSOk)
        text += L"\r\n" + LoadText(IDS_REFUSED, {HresultText(snapshot.refused)});
    SetTextIfChanged(Control(kStatusId), text);
}

void MainWindow::UpdateTray()
{
    if (!m_trayReady)
        return;
    if (!m_options.trayIcon) {
        m_tray->Remove();
        return;
    }
    const int kind = static_cast<int>(TrayIconFor(m_shown));
    // The tooltip's first line of the status: it has room for 127 characters.
    std::wstring status;
    const int length = GetWindowTextLengthW(Control(kStatusId));
    status.resize(static_cast<std::size_t>(length) + 1);
    GetWindowTextW(Control(kStatusId), status.data(), length + 1);
    status.resize(std::min<std::size_t>(status.find(L'\r'), static_cast<std::size_t>(length)));
    m_tray->Show(m_trayIcons[kind].get(), LoadText(IDS_TRAY_TIP, {LoadText(IDS_APP_TITLE), status}));
}

void MainWindow::ShowTrayMenu()
{
    const ovled::win32::UniqueMenu menu(CreatePopupMenu());
    if (!menu)
        return;
    const UINT lighting = m_shown.status == ServiceStatus::Running ? MF_ENABLED : MF_GRAYED;
    const std::pair<int, int> items[] = {{kMenuAllMusic, IDS_TRAY_ALL_MUSIC},
                                         {kMenuAllThermal, IDS_TRAY_ALL_THERMAL},
                                         {kMenuOff1h, IDS_TRAY_OFF_1_H},
                                         {kMenuLightsOn, IDS_TRAY_LIGHTS_ON},
                                         {0, 0},
                                         {kMenuOpen, IDS_TRAY_OPEN},
                                         {kMenuExit, IDS_TRAY_EXIT}};
    for (const auto& [id, text] : items) {
        if (!id)
            AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuW(menu.get(), MF_STRING | (id < kMenuOpen ? lighting : MF_ENABLED), static_cast<UINT_PTR>(id),
                        LoadText(text).c_str());
    }
    SetMenuDefaultItem(menu.get(), kMenuOpen, FALSE);
    POINT at{};
    GetCursorPos(&at);
    // Without the foreground, the menu would not close when a person clicks elsewhere.
    SetForegroundWindow(m_window.get());
    const int chosen = static_cast<int>(
        TrackPopupMenuEx(menu.get(), TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, m_window.get(), nullptr));
    PostMessageW(m_window.get(), WM_NULL, 0, 0);
    if (chosen)
        OnTrayCommand(chosen);
}

void MainWindow::OnTrayCommand(int id)
{
    switch (id) {
    case kMenuAllMusic:
        m_worker->Post(Command{Command::Kind::AllModes, 0, kModeMusic});
        break;
    case kMenuAllThermal:
        m_worker->Post(Command{Command::Kind::AllModes, 0, kModeThermal});
        break;
    case kMenuOff1h:
        m_worker->Post(Command{Command::Kind::LightsOff, 0, 60});
        break;
    case kMenuLightsOn:
        m_worker->Post(Command{Command::Kind::LightsOn});
        break;
    case kMenuOpen:
        Open();
        break;
    case kMenuExit:
        DestroyWindow(m_window.get());
        break;
    default:
        break;
    }
}

void MainWindow::Post(Command command, HWND control)
{
    m_held = control;
    m_heldUntil = Clock::now() + kHold;
    m_worker->Post(std::move(command));
}

void MainWindow::ApplyNightTime(int id)
{
    HWND edit = Control(id);
    wchar_t text[16] = {};
    GetWindowTextW(edit, text, static_cast<int>(std::size(text)));
    const std::wstring& shown = id == kFromId ? m_shown.state.nightStart : m_shown.state.nightEnd;
    std::wstring time;
    if (!ParseClockTime(text, time)) {
        const std::wstring title = LoadText(IDS_APP_TITLE);
        const std::wstring message = LoadText(IDS_BAD_TIME);
        EDITBALLOONTIP tip{sizeof tip, title.c_str(), message.c_str(), TTI_WARNING};
        SendMessageW(edit, EM_SHOWBALLOONTIP, 0, reinterpret_cast<LPARAM>(&tip));
        SetWindowTextW(edit, shown.c_str());
        return;
    }
    SetWindowTextW(edit, time.c_str());
    if (time != shown)
        Post(Command{Command::Kind::SetNightTime, 0, id == kToId ? 1 : 0, OffRule::Locked, time}, edit);
}

void MainWindow::SetOption(bool AppOptions::*option, int id)
{
    m_options.*option = !(m_options.*option);
    SendMessageW(Control(id), BM_SETCHECK, m_options.*option ? BST_CHECKED : BST_UNCHECKED, 0);
    SaveOptions(m_options);
    EnableWindow(Control(kStartAtLogonId), m_options.trayIcon);
    UpdateTray();
}

void MainWindow::OnCommand(int id, int code, HWND control)
{
    Command command;
    if (m_rows && m_rows->CommandFor(id, code, command)) { // none while the window is destroyed
        Post(std::move(command), control);
        return;
    }
    switch (id) {
    case IDOK: // Enter: a night time being typed is taken
        if (GetFocus() == Control(kFromId) || GetFocus() == Control(kToId))
            ApplyNightTime(GetDlgCtrlID(GetFocus()));
        return;
    case IDCANCEL: // Escape
        Close();
        return;
    case kOffLockedId:
    case kOffDisplayId:
    case kOffNightId: {
        const OffRule rule = id == kOffLockedId ? OffRule::Locked : id == kOffDisplayId ? OffRule::DisplayOff
                                                                                         : OffRule::Night;
        const bool on = !Checked(control);
        SendMessageW(control, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
        Post(Command{Command::Kind::SetRule, 0, on ? 1 : 0, rule}, control);
        return;
    }
    case kFromId:
    case kToId:
        if (code == EN_KILLFOCUS)
            ApplyNightTime(id);
        return;
    case kOff30Id:
    case kOff60Id:
    case kOffUntilOnId:
        Post(Command{Command::Kind::LightsOff, 0, id == kOff30Id ? 30 : id == kOff60Id ? 60 : 0}, nullptr);
        return;
    case kLightsOnId:
        Post(Command{Command::Kind::LightsOn}, nullptr);
        return;
    case kShowTrayId:
        SetOption(&AppOptions::trayIcon, id);
        return;
    case kStartAtLogonId:
        SetOption(&AppOptions::startAtLogon, id);
        return;
    default:
        return;
    }
}

} // namespace ovled::app::win32
