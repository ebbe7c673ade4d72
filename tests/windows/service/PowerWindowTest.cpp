#include "lighting/PowerEvents.h"
#include "lighting/win32/PowerEventWindow.h"
#include "tests/support/FakeDevices.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

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

} // namespace
} // namespace ovled::win32
