// The executable as a Windows service: started by the service control manager or by COM activation,
// its reported statuses and events (seen on the diagnostic channel), and its stop.
#include "lighting/LightingSettings.h"
#include "platform/EventIds.h"
#include "platform/Paths.h"
#include "platform/win32/Unique.h"
#include "service/ServiceControl.h"
#include "service/win32/Diagnostics.h"
#include "tests/windows/service/support/DiagnosticListener.h"
#include "tests/windows/service/support/ServerCopy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <OvLedService_h.h>

namespace ovled::test {
namespace {

using ::testing::ElementsAre;

class ServiceProcessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_copy.Run(L"/Service").exitCode, 0u); }

    // The running service's process, found through the first diagnostic line it sent.
    win32::UniqueHandle RunningService()
    {
        const DiagnosticLine running = m_listener.WaitFor(L"status", L"4 exit 0x00000000");
        if (running.processId == 0)
            return {};
        m_processId = running.processId;
        return win32::UniqueHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, m_processId));
    }
    std::vector<std::wstring> Lines() { return m_listener.Texts(m_processId); }

    ServerCopy m_copy;
    DiagnosticListener m_listener;
    DWORD m_processId = 0;
};

TEST_F(ServiceProcessTest, StartedByTheServiceManagerItReportsEachStateLogsItsEventsAndStopsWithCodeZero)
{
    ASSERT_TRUE(StartOvLedService());
    const auto process = RunningService();
    ASSERT_TRUE(process);
    EXPECT_EQ(QueryOvLedService()->state, DWORD{SERVICE_RUNNING});

    // Interrogate changes and logs nothing; a user-defined control is a bad request.
    EXPECT_TRUE(SendServiceControl(SERVICE_CONTROL_INTERROGATE));
    SendServiceControl(200);
    EXPECT_NE(m_listener.WaitFor(L"event", L"Bad service request").processId, 0u);
    EXPECT_EQ(QueryOvLedService()->state, DWORD{SERVICE_RUNNING});

    ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
    EXPECT_EQ(WaitForExit(process.get()), 0u) << "a clean stop ends the process with 0";
    ASSERT_NE(m_listener.WaitFor(L"status", L"1 exit 0x00000000").processId, 0u);
    EXPECT_THAT(Lines(),
                ElementsAre(L"status 2 exit 0x00000000", L"event Service started/resumed", L"status 4 exit 0x00000000",
                            L"event Bad service request", L"status 3 exit 0x00000000", L"event Service stopped",
                            L"status 1 exit 0x00000000"));
    const auto state = QueryOvLedService();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->state, DWORD{SERVICE_STOPPED});
    EXPECT_EQ(state->win32ExitCode, 0u);
}

TEST_F(ServiceProcessTest, ComActivationStartsTheServiceWhichOutlivesItsLastClient)
{
    ASSERT_EQ(QueryOvLedService()->state, DWORD{SERVICE_STOPPED});
    {
        win32::ScopedComInit com;
        win32::ComPtr<ILightControl> control;
        ASSERT_EQ(
            CoCreateInstance(CLSID_LightControl, nullptr, CLSCTX_LOCAL_SERVER, IID_ILightControl, control.put_void()),
            S_OK);
        EXPECT_EQ(control->put_ModeByIndex(-1, 1), S_OK);
        SHORT mode = 0;
        EXPECT_EQ(control->get_ModeByIndex(-1, &mode), S_OK);
        EXPECT_EQ(mode, 1);
    }
    const auto process = RunningService();
    ASSERT_TRUE(process);
    EXPECT_EQ(LightingSettings(m_copy.Settings()).GetMode(), 1);

    // A local server would end 1000 ms after the last release; the service does not.
    EXPECT_EQ(WaitForExit(process.get(), std::chrono::milliseconds(2500)), std::nullopt);
    EXPECT_EQ(QueryOvLedService()->state, DWORD{SERVICE_RUNNING});

    ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
    EXPECT_EQ(WaitForExit(process.get()), 0u);
}

// Event Viewer shows each event from the executable's message table: every id with its inserts.
TEST(EventMessages, EveryIdHasItsMessageWithItsInsertsInTheExecutable)
{
    const auto exe = platform::ExecutableDirectory() / "OvLedService.exe";
    const win32::UniqueModule module(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    const struct {
        std::uint32_t id;
        std::vector<std::wstring> inserts;
        std::wstring text;
    } rows[] = {
        {events::kServiceStarted, {}, std::wstring(service::kEventStarted)},
        {events::kServiceStopped, {}, std::wstring(service::kEventStopped)},
        {events::kHandlerNotInstalled, {}, std::wstring(service::kEventHandlerNotInstalled)},
        {events::kBadServiceRequest, {}, std::wstring(service::kEventBadRequest)},
        {events::kComSecurityNotSet,
         {L"0x80004005"},
         L"The COM access policy could not be set (0x80004005). The process ends without serving anyone."},
        {events::kSettingsKeptAside,
         {L"Lighting.xml", L"not XML", L"Lighting.xml.unusable"},
         L"Lighting.xml could not be used (not XML). It was kept as Lighting.xml.unusable, and a fresh one was "
         L"written."},
        {events::kSettingsKeptInPlace,
         {L"Lighting.xml", L"access denied"},
         L"Lighting.xml could not be used (access denied). It is kept as it is, and the settings live in memory "
         L"until it can be used."},
    };
    for (const auto& row : rows)
        EXPECT_EQ(win32::FormatEventMessage(module.get(), row.id, row.inserts), row.text) << std::hex << row.id;
    for (const std::uint32_t id : events::kAllIds)
        EXPECT_TRUE(std::any_of(std::begin(rows), std::end(rows), [id](const auto& row) { return row.id == id; }))
            << "no row for " << std::hex << id;
}

} // namespace
} // namespace ovled::test
