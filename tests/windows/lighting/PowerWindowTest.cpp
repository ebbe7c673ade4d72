#include "lighting/PowerEvents.h"
#include "lighting/win32/PowerEventWindow.h"
#include "tests/support/FakeDevices.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include <objbase.h>

namespace ovled::win32 {
namespace {

using ovled::LightingManager;
using ovled::LightingSettings;
using test::FakeBoard;
using ::testing::ElementsAre;

// The window thread of the process entry, over a fake board, run on a thread the test can join.
class PowerWindowTest : public ::testing::Test {
protected:
    PowerWindowTest()
    {
        m_thread = std::thread(PowerWindowThreadProc, &m_holder);
        m_started = m_holder.ready.WaitFor(std::chrono::seconds(30));
    }
    ~PowerWindowTest() override
    {
        if (HWND window = m_holder.window.load())
            SendMessageW(window, WM_CLOSE, 0, 0); // destroying the window ends the thread's loop
        m_thread.join();
    }

    std::vector<std::string> DeviceCalls()
    {
        std::vector<std::string> calls;
        for (const auto& call : m_board.Calls().Entries()) {
            if (call.rfind("music", 0) != 0)
                calls.push_back(call);
        }
        return calls;
    }
    void Broadcast(WPARAM event) { SendMessageW(m_holder.window.load(), WM_POWERBROADCAST, event, 0); }

    test::FakeLightingRoot m_root{3};
    FakeBoard& m_board = m_root.Board();
    LightingSettings& m_settings = m_root.Settings();
    LightingManager& m_manager = m_root.Manager();
    PowerWindowHolder m_holder{m_root};
    std::thread m_thread;
    bool m_started = false;
};

TEST_F(PowerWindowTest, TheThreadCreatesAHiddenWindowNamedAfterTheService)
{
    ASSERT_TRUE(m_started);
    const HWND window = m_holder.window.load();
    ASSERT_NE(window, nullptr);
    wchar_t text[64];
    ASSERT_GT(GetClassNameW(window, text, ARRAYSIZE(text)), 0);
    EXPECT_STREQ(text, L"Orvex LED Service");
    ASSERT_GT(GetWindowTextW(window, text, ARRAYSIZE(text)), 0);
    EXPECT_STREQ(text, L"Orvex LED Service");
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_NE(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
}

TEST_F(PowerWindowTest, SuspendAndResumeBroadcastsDarkenAndRestoreTheDevices)
{
    ASSERT_TRUE(m_started);
    m_manager.SetModeByIndex(0, 1);
    m_manager.SetModeByIndex(1, 2);
    m_manager.SetModeByIndex(2, 1);
    m_manager.SetModeByIndex(-3, 0);
    m_board.Calls().Clear();

    Broadcast(kPowerSuspend);
    EXPECT_THAT(DeviceCalls(), ElementsAre("strip 0: SetEffect1 0", "strip 1: SetEffect1 0"));
    m_board.Calls().Clear();

    Broadcast(kPowerResumeSuspend);
    EXPECT_THAT(DeviceCalls(),
                ElementsAre("strip 0: EnterMusicMode", "strip 1: EnterThermalMode", "strip 2: EnterMusicMode"));
    EXPECT_EQ(m_settings.GetExternalEnable(0), 1);
    m_board.Calls().Clear();

    Broadcast(kPowerResumeAutomatic);
    EXPECT_THAT(m_board.Calls().Entries(), ::testing::IsEmpty()) << "the second resume of one wake-up";
}

// What the window thread's apartment was while it handled a broadcast, read by a hook on that thread.
struct ApartmentSeen {
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        APTTYPEQUALIFIER qualifier;
        if (code == HC_ACTION && message->message == WM_POWERBROADCAST)
            asked = SUCCEEDED(CoGetApartmentType(&type, &qualifier));
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline bool asked = false;
    static inline APTTYPE type = APTTYPE_CURRENT;
};

// On Windows a single-threaded apartment may not call out while it handles a message sent from another
// process, which a power broadcast is (Wine does not enforce this, so the apartment is what is checked).
TEST_F(PowerWindowTest, BroadcastsAreHandledInTheMultithreadedApartmentWhereTheFirmwareMayBeCalled)
{
    ASSERT_TRUE(m_started);
    const HWND window = m_holder.window.load();
    const HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, ApartmentSeen::Hook, nullptr,
                                         GetWindowThreadProcessId(window, nullptr));
    ASSERT_NE(hook, nullptr);
    Broadcast(kPowerSuspend);
    UnhookWindowsHookEx(hook);
    ASSERT_TRUE(ApartmentSeen::asked);
    EXPECT_EQ(ApartmentSeen::type, APTTYPE_MTA);
}

} // namespace
} // namespace ovled::win32
