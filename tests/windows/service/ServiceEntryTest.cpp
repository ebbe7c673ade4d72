// The service entry with the real Win32 glue (message queue, class object registration, message loop,
// diagnostic channel), in process: the test stands in for the service control manager's handler
// registration and sends the controls itself.
#include "platform/EventIds.h"
#include "platform/Paths.h"
#include "service/AccessPolicy.h"
#include "service/Identifiers.h"
#include "service/win32/ComSecurity.h"
#include "service/win32/Diagnostics.h"
#include "service/win32/ServiceModule.h"
#include "service/win32/TypeLibrary.h"
#include "service/win32/Win32Registry.h"
#include "tests/support/TempFolder.h"
#include "tests/windows/service/support/DiagnosticListener.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <OvLedService_h.h>

#include <sddl.h>

#include <atomic>
#include <future>
#include <thread>

namespace ovled::win32 {
namespace {

using ::testing::ElementsAre;

const auto kFakeStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<ULONG_PTR>(0x5EC));

class ServiceEntryTest : public ::testing::Test {
protected:
    // Runs the service entry on its own thread, as the dispatcher does; false if it does not end.
    bool RunServiceEntry(const std::function<void()>& whileRunning = {})
    {
        std::atomic<DWORD> serviceThread{0};
        auto finished = std::async(std::launch::async, [&serviceThread] {
            serviceThread = GetCurrentThreadId();
            COvLedServiceModule::ServiceEntry(0, nullptr);
        });
        if (whileRunning)
            whileRunning();
        if (finished.wait_for(std::chrono::seconds(30)) == std::future_status::ready)
            return true;
        PostThreadMessageW(serviceThread, WM_QUIT, 0, 0); // lets the test end instead of hanging
        return false;
    }
    std::vector<std::wstring> Lines() { return m_listener.Texts(GetCurrentProcessId()); }

    // Stands in for the service control manager: `onRegister` runs when the handler is registered.
    void Link(std::function<SERVICE_STATUS_HANDLE()> onRegister)
    {
        m_module.SetManagerLink({[onRegister](const wchar_t*, LPHANDLER_FUNCTION_EX) { return onRegister(); },
                                 [this](SERVICE_STATUS_HANDLE, const SERVICE_STATUS& status) {
                                     EXPECT_EQ(status.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
                                     EXPECT_EQ(status.dwControlsAccepted,
                                               DWORD{SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_POWEREVENT | SERVICE_ACCEPT_SESSIONCHANGE});
                                     ++m_reports;
                                 }});
    }

    test::DiagnosticListener m_listener;
    COvLedServiceModule m_module;
    std::atomic<int> m_reports{0};
};

TEST_F(ServiceEntryTest, ARunReportsStartPendingRunningStopPendingAndStoppedWithTheEventsInBetween)
{
    Link([] { return kFakeStatusHandle; });
    ASSERT_TRUE(RunServiceEntry([this] {
        if (m_listener.WaitFor(L"status", L"4 exit 0x00000000").processId != 0) {
            // The class object is served while the service runs.
            ScopedComInit com;
            ComPtr<ILightControl> control;
            EXPECT_EQ(CoCreateInstance(CLSID_LightControl, nullptr, CLSCTX_LOCAL_SERVER, IID_ILightControl,
                                       control.put_void()),
                      S_OK);
        } else {
            ADD_FAILURE() << "no running report";
        }
        COvLedServiceModule::ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
    }));
    ASSERT_NE(m_listener.WaitFor(L"status", L"1 exit 0x00000000").processId, 0u);
    EXPECT_THAT(Lines(),
                ElementsAre(L"status 2 exit 0x00000000", L"event Service started/resumed", L"status 4 exit 0x00000000",
                            L"status 3 exit 0x00000000", L"event Service stopped", L"status 1 exit 0x00000000"));
    EXPECT_EQ(m_module.Controller().Win32ExitCode(), 0u);
    EXPECT_EQ(m_module.LockCount(), -1) << "a service counts released locks down but never ends on them";
    EXPECT_EQ(m_reports, 4) << "every status also went to the service control manager";
}

TEST_F(ServiceEntryTest, AStopDuringStartUpIsKeptAndEndsTheLoopAsSoonAsItRuns)
{
    Link([] {
        // The stop arrives on another thread before the service thread has registered its class object.
        std::thread([] { COvLedServiceModule::ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr); }).join();
        return kFakeStatusHandle;
    });
    ASSERT_TRUE(RunServiceEntry()) << "the quit posted before the message loop was lost";
    ASSERT_NE(m_listener.WaitFor(L"status", L"1 exit 0x00000000").processId, 0u);
    EXPECT_THAT(Lines(),
                ElementsAre(L"status 3 exit 0x00000000", L"event Service stopped", L"status 1 exit 0x00000000"));
}

TEST_F(ServiceEntryTest, AHandlerThatCannotBeRegisteredIsLoggedAndTheEntryReturns)
{
    Link([]() -> SERVICE_STATUS_HANDLE { return nullptr; });
    ASSERT_TRUE(RunServiceEntry());
    ASSERT_NE(m_listener.WaitFor(L"event", L"Handler not installed").processId, 0u);
    EXPECT_THAT(Lines(), ElementsAre(L"event Handler not installed"));
    EXPECT_EQ(m_reports, 0);
}

TEST_F(ServiceEntryTest, ControlsOtherThanTheFiveKnownOnesAreBadRequests)
{
    const DWORD controls[] = {
        SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE, SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_SHUTDOWN, 0, 200};
    for (DWORD control : controls)
        COvLedServiceModule::ServiceControlHandler(control, 0, nullptr, nullptr);
    SendDiagnostic(L"event", L"controls sent"); // arrives after everything the controls sent
    ASSERT_NE(m_listener.WaitFor(L"event", L"controls sent").processId, 0u);
    EXPECT_THAT(Lines(),
                ElementsAre(L"event Bad service request", L"event Bad service request", L"event controls sent"));
    EXPECT_EQ(m_module.Controller().CurrentState(), 1u);
}

// Any local account may create the diagnostic pipe before a listener does, and never read from it.
TEST(DiagnosticPipeSquatter, CannotHoldUpTheServicesStatusReports)
{
    UniqueHandle squatter(CreateNamedPipeW(kDiagnosticPipeName, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                           PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr));
    ASSERT_NE(squatter.get(), INVALID_HANDLE_VALUE);
    COvLedServiceModule module;
    UniqueHandle running(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    module.SetManagerLink({[](const wchar_t*, LPHANDLER_FUNCTION_EX) { return kFakeStatusHandle; },
                           [&running](SERVICE_STATUS_HANDLE, const SERVICE_STATUS& status) {
                               if (status.dwCurrentState == SERVICE_RUNNING)
                                   SetEvent(running.get());
                           }});
    auto finished = std::async(std::launch::async, [] { COvLedServiceModule::ServiceEntry(0, nullptr); });
    EXPECT_EQ(WaitForSingleObject(running.get(), 10000), WAIT_OBJECT_0) << "a report waited for the pipe's reader";
    squatter.reset(); // a report blocked on it goes on, so that the test ends either way
    COvLedServiceModule::ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
    EXPECT_EQ(finished.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    FlushDiagnostics(std::chrono::seconds(10)); // nothing of this test reaches a later test's listener
}

// Other layers report by id (a settings file kept aside, say); the writer the entry installs turns that into
// the message of the executable's table, for the event log and the diagnostic pipe.
TEST(EventLogWriter, OtherLayersMessagesReachThePipeAsTheirText)
{
    test::DiagnosticListener listener;
    EventLogWriter writer(L"OvLed Test");
    platform::ScopedEventLog installed(writer);
    const std::wstring inserts[] = {L"Lighting.xml", L"not XML"};
    platform::EventLog().Report(events::kSettingsKeptInPlace, inserts);
    EXPECT_NE(listener
                  .WaitFor(L"event", L"Lighting.xml could not be used (not XML). It is kept as it is, and the settings "
                                     L"live in memory until it can be used.")
                  .processId,
              0u);
    FlushDiagnostics(std::chrono::seconds(10));
}

// The policy's text and the bytes that registration and the installer write are one descriptor.
TEST(ComAccessPolicy, TheDescriptorsAreWhatWindowsMakesOfTheirSddl)
{
    for (const auto sddl : {service::kAccessPermissionSddl, service::kLaunchPermissionSddl,
                            service::kAdministratorsAccessSddl, std::wstring_view(L"O:BAG:BAD:(A;;0xFFFFFFFF;;;AU)")}) {
        PSECURITY_DESCRIPTOR made = nullptr;
        ULONG size = 0;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(std::wstring(sddl).c_str(), SDDL_REVISION_1,
                                                                         &made, &size));
        const UniqueLocalMemory owned(made);
        const auto* bytes = static_cast<const std::uint8_t*>(made);
        EXPECT_EQ(service::SelfRelativeDescriptor(sddl), std::vector<std::uint8_t>(bytes, bytes + size));
    }
}

// A mask the converter would read differently from Windows is refused, not truncated or wrapped.
TEST(ComAccessPolicy, OnlyOneToEightHexDigitsMakeAMask)
{
    for (const wchar_t* mask : {L"-1", L" 3", L"0x3", L"+3", L"123456789", L"", L"3g"})
        EXPECT_THROW(service::SelfRelativeDescriptor(L"O:BAG:BAD:(A;;0x" + std::wstring(mask) + L";;;SY)"),
                     std::invalid_argument)
            << mask;
}

// Without an explicit policy the machine's defaults decided who could call; objects passed in could name
// any class to be loaded, and servers we call could act as LocalSystem.
TEST(ComAccessPolicy, LocalCallersOnlyIdentifyLevelNoCustomMarshallingNoActivateAsActivator)
{
    const std::wstring appId = L"AppID\\" + std::wstring(service::kAppId);
    RegistryEditor classes(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes");
    (void)classes.DeleteValue(appId, L"AccessPermission");
    const auto builtIn = service::SelfRelativeDescriptor(service::kAccessPermissionSddl);
    const ComSecuritySettings settings = ProcessComSecurity();
    EXPECT_EQ(settings.capabilities, DWORD{EOAC_NO_CUSTOM_MARSHAL | EOAC_DISABLE_AAA});
    EXPECT_EQ(settings.impersonationLevel, DWORD{RPC_C_IMP_LEVEL_IDENTIFY});
    EXPECT_EQ(settings.accessDescriptor, builtIn);

    // An administrator narrows who may call in the AppID key (dcomcnfg writes the same value).
    const auto narrowed = service::SelfRelativeDescriptor(L"O:BAG:BAD:(A;;0x3;;;SY)(A;;0x3;;;BA)");
    ASSERT_EQ(classes.CreateKey(appId), ERROR_SUCCESS);
    ASSERT_EQ(classes.SetValue(appId, service::RegistryValue::Binary(L"AccessPermission", narrowed)), ERROR_SUCCESS);
    EXPECT_EQ(ProcessComSecurity().accessDescriptor, narrowed);
    std::vector<std::uint8_t> beyond = narrowed; // its owner lies far past its end
    beyond[5] = 0x7F;
    ASSERT_EQ(classes.SetValue(appId, service::RegistryValue::Binary(L"AccessPermission", beyond)), ERROR_SUCCESS);
    EXPECT_EQ(ProcessComSecurity().accessDescriptor, service::SelfRelativeDescriptor(service::kAdministratorsAccessSddl))
        << "a value that is no descriptor narrows to the administrators; it never widens to the built-in policy";
    (void)classes.DeleteValue(appId, L"AccessPermission");
}

// Anyone who may write the executable's folder could put a type library file there; the installer
// registers the type library as LocalSystem.
TEST(TypeLibraryRegistration, OnlyTheExecutablesOwnLibraryIsRegisteredNeverAFileBesideIt)
{
    test::TempFolder folder;
    test::WriteText(folder / "OvLedService.exe", "no type library in here");
    std::filesystem::copy_file(platform::ExecutableDirectory() / "OvLedService.tlb", folder / "OvLedService.tlb");
    TypeLibraryRegistrar registrar((folder / "OvLedService.exe").wstring());
    const HResult result = registrar.Register(false);
    if (SUCCEEDED(result))
        (void)registrar.Unregister(false);
    EXPECT_TRUE(FAILED(result));
}

} // namespace
} // namespace ovled::win32
