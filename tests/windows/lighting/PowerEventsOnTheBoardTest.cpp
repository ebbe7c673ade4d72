// The power window over the process's real devices and the out-of-process virtual board, with a slow
// server: the window thread waits for each firmware call in COM's message-pumping wait, where a second
// broadcast can arrive on the same thread while the first holds the strip-selection lock.
#include "audio/SilentCapture.h"
#include "devices/Process.h"
#include "hardware/ItemIds.h"
#include "hardware/win32/HeldConnection.h"
#include "lighting/PowerEvents.h"
#include "lighting/win32/PowerEventWindow.h"
#include "platform/win32/Unique.h"
#include "tests/support/TempFolder.h"
#include "tests/windows/support/Wait.h"
#include "tests/windows/support/VirtualServer.h"

#include <gtest/gtest.h>

#include <thread>

namespace ovled::win32 {
namespace {

bool StripSelectWritten(sim::BoardModel& board)
{
    for (const sim::TraceEntry& entry : board.Trace()) {
        if (entry.kind == static_cast<std::uint32_t>(sim::TraceKind::ItemWrite) && entry.target == items::kStripSelector)
            return true;
    }
    return false;
}

TEST(PowerEventsOnTheBoard, ABroadcastArrivingDuringAStripWriteWaitsForTheOneBeingHandled)
{
    ScopedComInit com(COINIT_MULTITHREADED);
    test::VirtualServer server;
    ASSERT_TRUE(server.Ready());
    sim::BoardModel& board = server.Board();

    test::TempFolder folder;
    HeldAutomationTransport firmware;
    NoPortIo ports;
    Process root({firmware, firmware, ports, folder.Path(), platform::SystemClock(),
                  [] { return std::make_unique<SilentCapture>(); }});
    for (int strip : {0, 1})
        root.Settings().SetExternalMode(strip, kModeThermal);
    root.Settings().SetExternalEnable(0, 1);

    PowerWindowHolder holder(root);
    std::thread windowThread(PowerWindowThreadProc, &holder);
    ASSERT_TRUE(holder.ready.WaitFor(std::chrono::seconds(30)));
    const HWND window = holder.window.load();
    ASSERT_NE(window, nullptr);

    board.ClearTrace();
    board.SetFaults({.slowMillis = 150});
    DWORD_PTR answer = 0;
    std::thread suspend([&] {
        SendMessageTimeoutW(window, WM_POWERBROADCAST, kPowerSuspend, 0, SMTO_NORMAL, 60000, &answer);
    });
    // A strip has been selected: the suspend is in its next call, holding the strip-selection lock.
    EXPECT_TRUE(test::WaitUntil([&] { return StripSelectWritten(board); }));
    const LRESULT resumed =
        SendMessageTimeoutW(window, WM_POWERBROADCAST, kPowerResumeSuspend, 0, SMTO_NORMAL, 60000, &answer);
    suspend.join();
    board.ClearFaults();

    EXPECT_NE(resumed, 0) << "the window thread hung";
    EXPECT_TRUE(board.Strip(0).hostControl && board.Strip(1).hostControl)
        << "the resume came after the whole suspend and gave both strips back to their mode";

    const bool ended = StopPowerWindowThread(holder, std::chrono::seconds(30));
    EXPECT_TRUE(ended);
    ended ? windowThread.join() : windowThread.detach();
    root.ShutdownLighting();
}

} // namespace
} // namespace ovled::win32
