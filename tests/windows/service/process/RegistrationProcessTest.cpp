// What the registration switches leave in the registry and the service control manager, checked key by
// key against the values written out here.
#include "platform/win32/Unique.h"
#include "service/AccessPolicy.h"
#include "service/win32/Win32Registry.h"
#include "tests/windows/service/support/DiagnosticListener.h"
#include "tests/windows/service/support/ServerCopy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace ovled::test {
namespace {

using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;
using win32::RegistryEditor;

const std::wstring kClsid = L"{361DC8C5-F8D3-4CA5-856B-946A98360025}";
const std::wstring kClassKey = L"CLSID\\" + kClsid;
const std::wstring kAppIdKey = L"AppID\\{FAFF09A7-D8EC-4433-8397-431DB616F5BE}";
const std::wstring kLibraryKey = L"TypeLib\\{EDBE5A7E-664F-4DD7-9025-6A8DFED813CF}";
const std::wstring kInterfaceKey = L"Interface\\{F5DA78B4-04C9-4C49-81C8-AAB9BC3189D4}";
const std::wstring kWin32Entry = kLibraryKey + L"\\1.0\\0\\win32";

struct ExpectedKey {
    std::wstring path;
    std::map<std::wstring, std::wstring> values; // "" is the default value
    std::vector<std::wstring> subkeys;
};

std::vector<ExpectedKey> ClassKeys(const std::wstring& exe)
{
    return {
        {L"OvLedService.LightControl.1", {{L"", L"LightControl Class"}}, {L"CLSID"}},
        {L"OvLedService.LightControl.1\\CLSID", {{L"", kClsid}}, {}},
        {L"OvLedService.LightControl", {{L"", L"LightControl Class"}}, {L"CurVer"}},
        {L"OvLedService.LightControl\\CurVer", {{L"", L"OvLedService.LightControl.1"}}, {}},
        {kClassKey,
         {{L"", L"LightControl Class"}, {L"AppID", L"{FAFF09A7-D8EC-4433-8397-431DB616F5BE}"}},
         {L"ProgID", L"VersionIndependentProgID", L"Programmable", L"LocalServer32", L"TypeLib", L"Version"}},
        {kClassKey + L"\\ProgID", {{L"", L"OvLedService.LightControl.1"}}, {}},
        {kClassKey + L"\\VersionIndependentProgID", {{L"", L"OvLedService.LightControl"}}, {}},
        {kClassKey + L"\\Programmable", {}, {}},
        {kClassKey + L"\\LocalServer32", {{L"", L"\"" + exe + L"\""}}, {}},
        {kClassKey + L"\\TypeLib", {{L"", L"{EDBE5A7E-664F-4DD7-9025-6A8DFED813CF}"}}, {}},
        {kClassKey + L"\\Version", {{L"", L"1.0"}}, {}},
    };
}

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), ::towlower);
    return text;
}

void ExpectExactly(RegistryEditor& root, const ExpectedKey& key)
{
    SCOPED_TRACE(testing::PrintToString(key.path));
    ASSERT_TRUE(root.KeyExists(key.path));
    std::map<std::wstring, std::wstring> values;
    for (const auto& value : root.Values(key.path)) {
        EXPECT_TRUE(value.IsString()) << testing::PrintToString(value.name);
        values[Lower(value.name)] = value.text;
    }
    std::map<std::wstring, std::wstring> expected;
    for (const auto& [name, text] : key.values)
        expected[Lower(name)] = text;
    EXPECT_EQ(values, expected);
    std::vector<std::wstring> subkeys;
    for (const auto& name : root.Subkeys(key.path))
        subkeys.push_back(Lower(name));
    std::vector<std::wstring> expectedSubkeys;
    for (const auto& name : key.subkeys)
        expectedSubkeys.push_back(Lower(name));
    EXPECT_THAT(subkeys, UnorderedElementsAreArray(expectedSubkeys));
}

bool AnyClassKey(RegistryEditor& root)
{
    return root.KeyExists(kClassKey) || root.KeyExists(L"OvLedService.LightControl") ||
           root.KeyExists(L"OvLedService.LightControl.1");
}

// The root that holds the registered type library, with both platform entries naming the executable.
bool TypeLibraryRegistered(RegistryEditor& root, const std::wstring& exe)
{
    return root.ReadString(kLibraryKey + L"\\1.0\\0\\win64", L"") == exe && root.ReadString(kWin32Entry, L"") == exe;
}

class RegistrationProcessTest : public ::testing::Test {
protected:
    std::wstring Exe() const { return m_copy.Exe().wstring(); }

    ServerCopy m_copy;
    RegistryEditor m_machine = RegistryEditor::MachineClasses();
    RegistryEditor m_user = RegistryEditor::UserClasses();
};

TEST_F(RegistrationProcessTest, RegServerWritesTheClassKeysTheTypeLibraryAndAnAppIdKeyWithThePolicyButNoLocalService)
{
    ASSERT_EQ(m_copy.Run(L"/RegServer").exitCode, 0u);
    for (const auto& key : ClassKeys(Exe()))
        ExpectExactly(m_machine, key);
    EXPECT_TRUE(TypeLibraryRegistered(m_machine, Exe()));
    EXPECT_EQ(m_machine.ReadString(kInterfaceKey + L"\\ProxyStubClsid32", L""),
              L"{00020424-0000-0000-C000-000000000046}")
        << "the dual interface is marshalled by the type library";
    EXPECT_EQ(m_machine.ReadString(kInterfaceKey + L"\\TypeLib", L""), L"{EDBE5A7E-664F-4DD7-9025-6A8DFED813CF}");
    ASSERT_TRUE(m_machine.KeyExists(kAppIdKey));
    EXPECT_EQ(m_machine.ReadString(kAppIdKey, L"LocalService"), std::nullopt);
    const auto values = m_machine.Values(kAppIdKey);
    const auto policy = service::AppIdPolicyValues();
    ASSERT_EQ(values.size(), policy.size()) << "the access policy, nothing else";
    for (const auto& value : policy)
        EXPECT_TRUE(std::any_of(values.begin(), values.end(),
                                [&](const auto& v) { return v.name == value.name && v.SameData(value); }))
            << testing::PrintToString(value.name);
    EXPECT_FALSE(QueryOvLedService());
    EXPECT_FALSE(AnyClassKey(m_user));
}

// The installer's steps: the type library alone, and the lighting left alone (no settings file).
TEST_F(RegistrationProcessTest, TypeLibrarySwitchesRegisterAndRemoveTheTypeLibraryAlone)
{
    ASSERT_EQ(m_copy.Run(L"/RegTypeLib").exitCode, 0u);
    EXPECT_TRUE(TypeLibraryRegistered(m_machine, Exe()));
    EXPECT_FALSE(AnyClassKey(m_machine));
    ASSERT_EQ(m_copy.Run(L"/UnregTypeLib").exitCode, 0u);
    EXPECT_FALSE(m_machine.KeyExists(kLibraryKey));
    EXPECT_FALSE(std::filesystem::exists(m_copy.Folder() / "Lighting.xml"));
}

TEST_F(RegistrationProcessTest, ServiceInstallsTheServiceWithItsInstallationValues)
{
    ASSERT_EQ(m_copy.Run(L"/Service").exitCode, 0u);
    EXPECT_EQ(m_machine.ReadString(kAppIdKey, L"LocalService"), L"Orvex LED Control Service");
    for (const auto& key : ClassKeys(Exe()))
        ExpectExactly(m_machine, key);
    RegistryEditor system = RegistryEditor::Machine();
    EXPECT_THAT(service::CheckPlan(system, service::EventSourcePlan(Exe(), kServiceName)), IsEmpty())
        << "Event Viewer finds the messages in the executable";

    win32::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    win32::UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(service);
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    ASSERT_TRUE(QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed));
    EXPECT_EQ(config->dwServiceType, DWORD{SERVICE_WIN32_OWN_PROCESS});
    EXPECT_EQ(config->dwStartType, DWORD{SERVICE_AUTO_START}) << "created on demand, then reconfigured";
    EXPECT_EQ(config->dwErrorControl, DWORD{SERVICE_ERROR_NORMAL});
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), L"\"" + Exe() + L"\"");
    EXPECT_EQ(std::wstring(config->lpDisplayName), kServiceName);
    EXPECT_TRUE(!config->lpLoadOrderGroup || !*config->lpLoadOrderGroup);
    // Wine does not answer the dependencies through QueryServiceConfigW; the service key holds them.
    wchar_t dependencies[64] = {};
    DWORD size = sizeof(dependencies);
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\Orvex LED Control Service",
                           L"DependOnService", RRF_RT_REG_MULTI_SZ, nullptr, dependencies, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(dependencies, size / sizeof(wchar_t)), std::wstring(L"RPCSS\0\0", 7)) << "one dependency";

    std::vector<BYTE> described(4096);
    ASSERT_TRUE(QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, described.data(),
                                     static_cast<DWORD>(described.size()), &needed));
    EXPECT_STREQ(reinterpret_cast<SERVICE_DESCRIPTIONW*>(described.data())->lpDescription,
                 L"Provides LED Control Function for Orvex Motherboard.");
}

TEST_F(RegistrationProcessTest, UnregServerRemovesEverythingButTheAppIdKey)
{
    ASSERT_EQ(m_copy.Run(L"/Service").exitCode, 0u);
    ASSERT_EQ(m_copy.Run(L"/UnregServer").exitCode, 0u);
    EXPECT_FALSE(QueryOvLedService());
    ASSERT_TRUE(m_machine.KeyExists(kAppIdKey));
    EXPECT_EQ(m_machine.ReadString(kAppIdKey, L"LocalService"), std::nullopt);
    EXPECT_THAT(m_machine.Values(kAppIdKey), IsEmpty()) << "nor the access policy";
    EXPECT_FALSE(RegistryEditor::Machine().KeyExists(std::wstring(service::kEventLogApplicationKey) + L"\\" +
                                                     kServiceName));
    EXPECT_FALSE(AnyClassKey(m_machine));
    EXPECT_TRUE(m_machine.KeyExists(L"CLSID"));
    EXPECT_FALSE(m_machine.KeyExists(kLibraryKey));
    EXPECT_FALSE(m_machine.KeyExists(kInterfaceKey));
}

TEST_F(RegistrationProcessTest, PerUserFormsPutTheClassesUnderTheUserAndRemoveThemAgain)
{
    ASSERT_EQ(m_copy.Run(L"/Service").exitCode, 0u);
    ASSERT_EQ(m_copy.Run(L"/RegServerPerUser").exitCode, 0u);
    EXPECT_FALSE(QueryOvLedService()) << "an installed service is removed";
    ASSERT_TRUE(m_machine.KeyExists(kAppIdKey)) << "the AppID key stays under the machine's root";
    EXPECT_EQ(m_machine.ReadString(kAppIdKey, L"LocalService"), std::nullopt);
    // Left from the machine-wide registration before; per-user registration does not touch it.
    ExpectExactly(m_machine, ClassKeys(Exe())[4]);
    for (const auto& key : ClassKeys(Exe()))
        ExpectExactly(m_user, key);
    // Wine registers a "per-user" type library machine-wide; Windows puts it under the user.
    EXPECT_TRUE(TypeLibraryRegistered(m_user, Exe()) || TypeLibraryRegistered(m_machine, Exe()));

    ASSERT_EQ(m_copy.Run(L"/UnregServerPerUser").exitCode, 0u);
    EXPECT_FALSE(AnyClassKey(m_user));
    EXPECT_FALSE(m_user.KeyExists(kLibraryKey));
    EXPECT_TRUE(AnyClassKey(m_machine)) << "the machine-wide class keys are not the per-user run's";
    EXPECT_EQ(m_machine.ReadString(kWin32Entry, L""), Exe()) << "nor is the machine-wide win32 entry";
}

TEST_F(RegistrationProcessTest, UnregistrationLeavesAWin32EntryThatNamesAnotherExecutable)
{
    ASSERT_EQ(m_copy.Run(L"/RegServer").exitCode, 0u);
    // What the 32-bit build's registration of its own copy writes.
    const std::wstring other = L"C:\\Program Files (x86)\\Orvex\\OvLedService.exe";
    ASSERT_EQ(m_machine.SetString(kWin32Entry, L"", other), ERROR_SUCCESS);
    m_copy.Run(L"/UnregServer");
    EXPECT_EQ(m_machine.ReadString(kWin32Entry, L""), other);
    EXPECT_FALSE(AnyClassKey(m_machine));
}

TEST_F(RegistrationProcessTest, AServiceThatCannotBeCreatedIsReportedWithoutAMessageBoxAndLeavesLocalService)
{
    // A service that already uses our display name makes the creation fail.
    {
        win32::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        win32::UniqueServiceHandle blocker(
            CreateServiceW(manager.get(), L"OvLed Test Blocker", kServiceName, SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                           L"C:\\windows\\system32\\cmd.exe", nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(blocker);
    }
    DiagnosticListener listener;
    // Without the variable that tests set, too: nobody can see Wine's null-driver desktop, so no box
    // may wait there for a click.
    SetEnvironmentVariableW(L"OVLED_NO_MESSAGE_BOXES", nullptr);
    const ProcessResult run = m_copy.Run(L"/Service");
    SetEnvironmentVariableW(L"OVLED_NO_MESSAGE_BOXES", L"1");
    EXPECT_EQ(run.exitCode, 0u) << "the class and the type library were still registered";
    EXPECT_NE(listener.WaitFor(L"notice", L"Orvex LED Control Service: Could not start service").processId, 0u);
    EXPECT_EQ(m_machine.ReadString(kAppIdKey, L"LocalService"), L"Orvex LED Control Service");

    // A start without switches now takes the service path and ends with the dispatcher's error.
    EXPECT_EQ(m_copy.Run(L"").exitCode, DWORD{ERROR_FAILED_SERVICE_CONTROLLER_CONNECT});
}

} // namespace
} // namespace ovled::test
