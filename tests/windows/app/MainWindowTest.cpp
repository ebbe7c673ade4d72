// The app's window over the fake service, in process under Wine: what a board with no strip, or with the
// most strips there are, does to the layout. (The keyboard, the board and the real service are the
// end-to-end test's: tests/app/.)
#include "app/win32/MainWindow.h"

#include "../../unit/app/FakeLighting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

namespace ovled::app::win32 {
namespace {

using test::FakeBoard;
using test::FakeConnector;

struct Child {
    HWND window;
    RECT rect;
    wchar_t windowClass[32];
};

BOOL CALLBACK Collect(HWND window, LPARAM context)
{
    if (!IsWindowVisible(window))
        return TRUE;
    Child child{window, {}, {}};
    GetWindowRect(window, &child.rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&child.rect), 2);
    GetClassNameW(window, child.windowClass, 32);
    reinterpret_cast<std::vector<Child>*>(context)->push_back(child);
    return TRUE;
}

std::vector<Child> VisibleChildren(HWND window)
{
    std::vector<Child> children;
    EnumChildWindows(window, Collect, reinterpret_cast<LPARAM>(&children));
    return children;
}

// Runs the window's messages (the worker's snapshots arrive as posted messages) until `done`.
template <class Condition>
bool PumpUntil(Condition done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

TEST(MainWindow, ARowPerDeviceFromNoStripToEightWithNothingOverlappingOrOutside)
{
    for (std::size_t strips : {0u, 8u}) {
        FakeBoard board;
        board.modes.assign(1 + strips, 1);
        board.colours.assign(1 + strips, 0x00FF00);
        std::optional<MainWindow> window;
        window.emplace(AppOptions{false, false}, std::make_unique<FakeConnector>(board));
        ASSERT_TRUE(window->Create(true));
        const auto combos = [&] {
            int count = 0;
            for (const Child& child : VisibleChildren(window->Handle()))
                count += std::wstring(child.windowClass) == L"ComboBox";
            return count;
        };
        ASSERT_TRUE(PumpUntil([&] { return combos() == static_cast<int>(1 + strips); })) << strips << " strips";

        RECT client{};
        GetClientRect(window->Handle(), &client);
        SCROLLINFO scroll{sizeof scroll, SIF_ALL};
        const bool scrolls = GetScrollInfo(window->Handle(), SB_VERT, &scroll) && scroll.nMax > 0;
        const LONG contentBottom = scrolls ? scroll.nMax + 1 : client.bottom;
        const std::vector<Child> children = VisibleChildren(window->Handle());
        for (const Child& a : children) {
            EXPECT_GE(a.rect.left, 0);
            EXPECT_LE(a.rect.right, client.right) << strips << " strips";
            EXPECT_LE(a.rect.bottom, contentBottom) << strips << " strips";
            for (const Child& b : children) {
                RECT overlap{};
                // A combo box's rectangle includes its closed list; only its face counts.
                RECT faceA = a.rect;
                RECT faceB = b.rect;
                for (RECT* face : {&faceA, &faceB})
                    face->bottom = std::min(face->bottom, face->top + 30);
                EXPECT_FALSE(&a != &b && IntersectRect(&overlap, &faceA, &faceB))
                    << strips << " strips: " << GetDlgCtrlID(a.window) << " and " << GetDlgCtrlID(b.window);
            }
        }
        MONITORINFO monitor{sizeof monitor};
        GetMonitorInfoW(MonitorFromWindow(window->Handle(), MONITOR_DEFAULTTONEAREST), &monitor);
        RECT frame{};
        GetWindowRect(window->Handle(), &frame);
        EXPECT_LE(frame.bottom - frame.top, monitor.rcWork.bottom - monitor.rcWork.top) << strips << " strips";

        // The object goes while its window is open: the window's last messages still find what they use,
        // so its WM_DESTROY runs to the end, which asks the message loop to end.
        window.reset();
        MSG quit;
        EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << strips << " strips";
    }
}

} // namespace
} // namespace ovled::app::win32
