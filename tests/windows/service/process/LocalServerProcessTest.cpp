// The executable as a plain COM local server, started by activation from this (separate) process:
// early- and late-bound calls, the settings file, its end after the last release, the power event
// window, and the client tool.
#include "lighting/LightingSettings.h"
#include "lighting/PowerEvents.h"
#include "lighting/win32/PowerEventWindow.h"
#include "platform/win32/Unique.h"
#include "tests/windows/support/ModeByIndexCalls.h"
#include "tests/windows/service/support/ServerCopy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <OvLedService_h.h>

namespace ovled::test {
namespace {

using ::testing::HasSubstr;
using win32::ComPtr;
using win32::UniqueVariant;

class LocalServerProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_copy.Run(L"/RegServer").exitCode, 0u);
        ASSERT_EQ(
            CoCreateInstance(CLSID_LightControl, nullptr, CLSCTX_LOCAL_SERVER, IID_ILightControl, m_control.put_void()),
            S_OK);
        m_server = m_copy.WaitForServerProcess();
        ASSERT_TRUE(m_server);
    }
    void TearDown() override
    {
        m_control.reset();
        if (m_server) { // the server must end by itself: see ServerCopy::Cleanup
            EXPECT_EQ(WaitForExit(m_server.get()), 0u);
        }
    }

    SHORT Mode(SHORT index)
    {
        SHORT mode = -99;
        EXPECT_EQ(m_control->get_ModeByIndex(index, &mode), S_OK);
        return mode;
    }
    LightingSettings Settings() { return LightingSettings(m_copy.Settings()); }

    win32::ScopedComInit m_com;
    ServerCopy m_copy;
    ComPtr<ILightControl> m_control;
    win32::UniqueHandle m_server;
};

TEST_F(LocalServerProcessTest, AClientSetsAndReadsModesEarlyAndLateBoundAndTheFileKeepsThem)
{
    EXPECT_EQ(m_control->put_ModeByIndex(-1, 2), S_OK);
    EXPECT_EQ(Mode(-1), 2);
    EXPECT_EQ(Settings().GetMode(), 2);
    EXPECT_TRUE(Settings().IsEnabled());

    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(m_control.As(dispatch), S_OK);
    LPOLESTR name = const_cast<LPOLESTR>(L"ModeByIndex");
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, kModeByIndexId);

    EXPECT_EQ(PutModeByIndexLate(*dispatch.get(), -1, 1), S_OK);
    EXPECT_EQ(Mode(-1), 1);

    UniqueVariant result;
    EXPECT_EQ(GetModeByIndexLate(*dispatch.get(), -1, result), S_OK);
    EXPECT_EQ(result->vt, VT_I2);
    EXPECT_EQ(result->iVal, 1);
    EXPECT_EQ(Settings().GetMode(), 1);

    EXPECT_EQ(m_control->put_ModeByIndex(-3, 0), S_OK);
    EXPECT_EQ(m_control->put_ModeByIndex(-2, 0), S_OK);
    EXPECT_FALSE(Settings().IsEnabled());
    EXPECT_EQ(Settings().GetMode(), 1) << "switching the zone off keeps its mode";

    ULONG colour = 0;
    SHORT value = 0;
    EXPECT_EQ(m_control->get_Color(&colour), S_OK);
    EXPECT_EQ(m_control->put_Color(0xFF), S_OK);
    EXPECT_EQ(m_control->get_Mode(&value), S_OK);
    EXPECT_EQ(m_control->put_Mode(1), S_OK);
    EXPECT_EQ(m_control->Start(), S_OK);
    EXPECT_EQ(m_control->Stop(), S_OK);
    EXPECT_EQ(m_control->get_Checked(&value), S_OK);
    EXPECT_EQ(m_control->put_Checked(1), S_OK);
}

TEST_F(LocalServerProcessTest, TheServerEndsAPauseAfterItsLastClientLetGo)
{
    EXPECT_EQ(WaitForExit(m_server.get(), std::chrono::milliseconds(0)), std::nullopt) << "held by the client";
    const auto released = std::chrono::steady_clock::now();
    m_control.reset();
    EXPECT_EQ(WaitForExit(m_server.get()), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - released, std::chrono::milliseconds(900))
        << "the class object is withdrawn, then the server pauses before it ends";
}

TEST_F(LocalServerProcessTest, PowerBroadcastsFromAnotherProcessReachTheServersWindow)
{
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindWindowW(win32::kPowerWindowName, win32::kPowerWindowName)); }));
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    EXPECT_EQ(owner, GetProcessId(m_server.get()));

    ASSERT_EQ(m_control->put_ModeByIndex(-1, 1), S_OK);
    ASSERT_EQ(m_control->put_ModeByIndex(-2, 0), S_OK);
    ASSERT_FALSE(Settings().IsEnabled());

    SendMessageW(window, WM_POWERBROADCAST, kPowerResumeAutomatic, 0);
    EXPECT_FALSE(Settings().IsEnabled()) << "a resume without a suspend changes nothing";

    SendMessageW(window, WM_POWERBROADCAST, kPowerSuspend, 0);
    SendMessageW(window, WM_POWERBROADCAST, kPowerResumeAutomatic, 0);
    EXPECT_TRUE(Settings().IsEnabled()) << "the resume switched the zone on again in its stored mode";
    EXPECT_EQ(Settings().GetMode(), 1);
    EXPECT_EQ(Mode(-1), 1);
}

TEST_F(LocalServerProcessTest, TheClientToolReadsAndSetsModesBothWays)
{
    const auto set = m_copy.RunTool(L"set -1 thermal");
    EXPECT_EQ(set.exitCode, 0u) << set.output;
    EXPECT_THAT(set.output, HasSubstr("device -1 (onboard): mode 2 (thermal)"));
    EXPECT_EQ(Mode(-1), 2);

    const auto late = m_copy.RunTool(L"--late set -1 music");
    EXPECT_EQ(late.exitCode, 0u) << late.output;
    EXPECT_EQ(Mode(-1), 1);

    const auto list = m_copy.RunTool(L"list 1");
    EXPECT_EQ(list.exitCode, 0u);
    EXPECT_THAT(list.output, HasSubstr("device -1 (onboard): mode 1 (music)"));
    EXPECT_THAT(list.output, HasSubstr("device 0: mode 0 (none)"));

    EXPECT_EQ(m_copy.RunTool(L"set -1 loud").exitCode, 1u) << "an unknown mode is a usage error";
}

TEST(ClientTool, AClassThatIsNotRegisteredIsReportedWithItsHresultAndAHint)
{
    ServerCopy copy;
    const auto result = copy.RunTool(L"get -1");
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_THAT(result.output, HasSubstr("0x80040154"));
    EXPECT_THAT(result.output, HasSubstr("not registered"));
    EXPECT_THAT(result.output, HasSubstr("/RegServer"));
}

} // namespace
} // namespace ovled::test
