#include "service/Registration.h"
#include "service/AccessPolicy.h"
#include "service/Identifiers.h"
#include "service/ServiceControl.h"
#include "tests/support/RecordingNotifier.h"
#include "tests/unit/service/FakeRegistry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace ovled::service {
namespace {

using test::FakeRegistry;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::wstring kExe = L"C:\\Orvex\\OvLedService.exe";
const std::wstring kName(kServiceName);
constexpr HResult kTypeLibFailure = static_cast<HResult>(0x8002801Cu);

// A service control manager with one database; every request is journalled.
class FakeScm final : public IScm {
public:
    class Connection;
    class Service;

    std::unique_ptr<IScmConnection> Connect() override;

    bool managerOpens = true;
    bool openForRemovalFails = false;
    bool createFails = false;
    bool deleteFails = false;
    StopOutcome stopOutcome{true, 0, 0};
    std::map<std::wstring, ServiceConfig> services;
    std::map<std::wstring, std::wstring> descriptions;
    std::map<std::wstring, std::uint32_t> startTypes;
    std::map<std::wstring, ServiceRecovery> recoveries;
    std::vector<std::string> journal;
};

class FakeScm::Service final : public IScmService {
public:
    Service(FakeScm& scm, std::wstring name) : m_scm(scm), m_name(std::move(name)) {}
    StopOutcome Stop() override
    {
        m_scm.journal.push_back("stop");
        return m_scm.stopOutcome;
    }
    bool Delete() override
    {
        m_scm.journal.push_back("delete");
        if (m_scm.deleteFails)
            return false;
        m_scm.services.erase(m_name);
        return true;
    }

private:
    FakeScm& m_scm;
    std::wstring m_name;
};

class FakeScm::Connection final : public IScmConnection {
public:
    explicit Connection(FakeScm& scm) : m_scm(scm) {}
    bool ServiceExists(const std::wstring& name) override { return m_scm.services.count(name) != 0; }
    bool Create(const ServiceConfig& config) override
    {
        m_scm.journal.push_back("create");
        if (m_scm.createFails)
            return false;
        m_scm.services[config.name] = config;
        m_scm.startTypes[config.name] = config.startType;
        return true;
    }
    std::unique_ptr<IScmService> OpenForRemoval(const std::wstring& name) override
    {
        if (m_scm.openForRemovalFails || !ServiceExists(name))
            return nullptr;
        return std::make_unique<Service>(m_scm, name);
    }
    bool Reconfigure(const std::wstring& name, const std::vector<std::wstring>& dependencies,
                     const std::wstring& description, const ServiceRecovery& recovery) override
    {
        if (!ServiceExists(name))
            return false;
        m_scm.journal.push_back("reconfigure");
        EXPECT_EQ(dependencies, m_scm.services[name].dependencies) << "reconfiguring keeps the dependencies";
        m_scm.startTypes[name] = kServiceAutoStart;
        m_scm.descriptions[name] = description;
        m_scm.recoveries[name] = recovery;
        return true;
    }

private:
    FakeScm& m_scm;
};

std::unique_ptr<IScmConnection> FakeScm::Connect()
{
    if (!managerOpens)
        return nullptr;
    return std::make_unique<Connection>(*this);
}

class FakeTypeLibrary final : public ITypeLibraryRegistrar {
public:
    HResult Register(bool perUser) override
    {
        calls.push_back(perUser ? "register per user" : "register");
        return result;
    }
    HResult Unregister(bool perUser) override
    {
        calls.push_back(perUser ? "unregister per user" : "unregister");
        return result;
    }
    std::vector<std::string> calls;
    HResult result = kSOk;
};

class RegistrationTest : public ::testing::Test {
protected:
    Registration Make(std::wstring modulePath = kExe)
    {
        return Registration({m_machine, m_user, m_system, m_installer, m_typeLibrary, kName, std::move(modulePath),
                             static_cast<HResult>(0x8007007Au)});
    }
    void InstallExisting()
    {
        m_scm.services[kName] = ServiceConfig{
            kName, L"\"C:\\old\\OvLedService.exe\"", kServiceDemandStart, kServiceErrorNormal, {L"RPCSS"}};
        m_machine.CreateKey(AppIdKeyPath());
        m_machine.SetString(AppIdKeyPath(), L"LocalService", kName);
    }
    std::optional<std::wstring> LocalService() { return m_machine.ReadString(AppIdKeyPath(), L"LocalService"); }

    FakeRegistry m_machine;
    FakeRegistry m_user;
    FakeRegistry m_system; // HKEY_LOCAL_MACHINE
    FakeScm m_scm;
    ServiceInstaller m_installer{m_scm, kName, [this] { return m_modulePath; }};
    std::optional<std::wstring> m_modulePath = kExe;
    FakeTypeLibrary m_typeLibrary;
    ovled::test::RecordingNotifier m_notifier;
};

TEST_F(RegistrationTest, RegisteringAsALocalServerRemovesTheServiceAndTheLocalServiceValue)
{
    InstallExisting();
    EXPECT_EQ(Make().RegisterAppKey(false), kSOk);
    EXPECT_THAT(m_scm.journal, ElementsAre("stop", "delete"));
    EXPECT_TRUE(m_scm.services.empty());
    EXPECT_TRUE(m_machine.KeyExists(AppIdKeyPath()));
    EXPECT_EQ(LocalService(), std::nullopt);
    EXPECT_THAT(m_notifier.Texts(), IsEmpty());
}

TEST_F(RegistrationTest, RegisteringAsAServiceInstallsItWithItsInstallationValues)
{
    EXPECT_EQ(Make().RegisterAppKey(true), kSOk);
    EXPECT_EQ(LocalService(), kName);
    ASSERT_EQ(m_scm.services.count(kName), 1u);
    const ServiceConfig& config = m_scm.services[kName];
    EXPECT_EQ(config.binaryPath, L"\"C:\\Orvex\\OvLedService.exe\"");
    EXPECT_EQ(config.startType, kServiceDemandStart) << "created on demand, then reconfigured";
    EXPECT_EQ(config.errorControl, kServiceErrorNormal);
    EXPECT_THAT(config.dependencies, ElementsAre(L"RPCSS"));
    EXPECT_EQ(m_scm.startTypes[kName], kServiceAutoStart);
    EXPECT_EQ(m_scm.descriptions[kName], L"Provides LED Control Function for Orvex Motherboard.");
    EXPECT_THAT(m_scm.journal, ElementsAre("create", "reconfigure"));
}

// Without an explicit policy the machine's defaults decided who could call; without recovery actions a
// crash left the lights dark until the next boot; without an event source Event Viewer showed no text.
TEST_F(RegistrationTest, RegistrationCarriesThePolicyTheEventSourceAndTheRecoveryAndUnregistrationRemovesThem)
{
    const std::wstring source = std::wstring(kEventLogApplicationKey) + L"\\" + kName;
    for (const bool asService : {false, true}) {
        EXPECT_EQ(Make().RegisterAppKey(asService), kSOk);
        for (const auto& value : AppIdPolicyValues()) {
            const auto values = m_machine.Values(AppIdKeyPath());
            EXPECT_TRUE(std::any_of(values.begin(), values.end(),
                                    [&](const RegistryValue& v) { return v.name == value.name && v.SameData(value); }))
                << "as a service: " << asService;
        }
        EXPECT_THAT(CheckPlan(m_system, EventSourcePlan(kExe, kName)), IsEmpty());
    }
    const ServiceRecovery recovery = m_scm.recoveries.at(kName);
    EXPECT_EQ(recovery.resetPeriodSeconds, 86400u);
    ASSERT_EQ(recovery.actions.size(), 3u);
    EXPECT_EQ(recovery.actions[0].kind, FailureAction::Kind::Restart);
    EXPECT_EQ(recovery.actions[0].delayMs, 5000u);
    EXPECT_EQ(recovery.actions[1].kind, FailureAction::Kind::Restart);
    EXPECT_EQ(recovery.actions[1].delayMs, 60000u);
    EXPECT_EQ(recovery.actions[2].kind, FailureAction::Kind::None);

    EXPECT_EQ(Make().UnregisterAppKey(), kSOk);
    EXPECT_THAT(m_machine.Values(AppIdKeyPath()), IsEmpty());
    EXPECT_FALSE(m_system.KeyExists(source));
    EXPECT_TRUE(m_system.KeyExists(kEventLogApplicationKey)) << "the log's own key stays";
}

TEST_F(RegistrationTest, RegisteringAsAServiceAgainStopsDeletesAndCreatesItWithoutWaiting)
{
    InstallExisting();
    EXPECT_EQ(Make().RegisterAppKey(true), kSOk);
    EXPECT_THAT(m_scm.journal, ElementsAre("stop", "delete", "create", "reconfigure"));
    EXPECT_EQ(m_scm.services[kName].binaryPath, L"\"C:\\Orvex\\OvLedService.exe\"");
}

TEST_F(RegistrationTest, AServiceThatCannotBeCreatedIsShownAndLeavesTheLocalServiceValue)
{
    m_scm.createFails = true;
    EXPECT_EQ(Make().RegisterAppKey(true), kSOk);
    EXPECT_THAT(m_notifier.Texts(), ElementsAre(L"Could not start service"));
    EXPECT_THAT(m_notifier.Captions(), ElementsAre(kName));
    EXPECT_EQ(LocalService(), kName);
}

TEST_F(RegistrationTest, AServiceThatCannotBeRemovedStopsTheAppKeyWorkButNotRegistration)
{
    InstallExisting();
    m_scm.deleteFails = true;
    EXPECT_EQ(Make().RegisterAppKey(false), kSOk);
    EXPECT_THAT(m_notifier.Texts(), ElementsAre(L"Could not delete service"));
    EXPECT_EQ(LocalService(), kName) << "the AppID key is not touched";
    EXPECT_THAT(m_scm.journal, ElementsAre("stop", "delete", "reconfigure"));
}

TEST_F(RegistrationTest, UnregisteringRemovesServiceAndValueButKeepsTheAppIdKey)
{
    InstallExisting();
    EXPECT_EQ(Make().UnregisterAppKey(), kSOk);
    EXPECT_TRUE(m_scm.services.empty());
    EXPECT_TRUE(m_machine.KeyExists(AppIdKeyPath()));
    EXPECT_EQ(LocalService(), std::nullopt);
}

TEST_F(RegistrationTest, UnregisteringFailsAndKeepsTheValueWhenTheServiceStays)
{
    InstallExisting();
    m_scm.deleteFails = true;
    EXPECT_EQ(Make().UnregisterAppKey(), kEFail);
    EXPECT_EQ(LocalService(), kName);
}

TEST_F(RegistrationTest, UnregisteringWithoutTheRightToWriteTheAppIdKeyFailsAndKeepsTheValue)
{
    // A standard user after a machine-wide "/Service": the service manager cannot be opened, so there
    // is no service to remove, but the AppID key is the machine's.
    InstallExisting();
    m_scm.managerOpens = false;
    m_machine.DenyWriting(AppIdKeyPath());
    EXPECT_EQ(Make().UnregisterAppKey(), static_cast<HResult>(0x80070005u));
    EXPECT_EQ(LocalService(), kName);
}

TEST_F(RegistrationTest, UnregisteringWithoutAnAppIdKeyAnswersFileNotFound)
{
    EXPECT_EQ(Make().UnregisterAppKey(), static_cast<HResult>(0x80070002u));
}

TEST_F(RegistrationTest, AStopRequestThatFailsIsShownUnlessTheServiceIsNotRunningOrAlreadyStopping)
{
    struct Case {
        StopOutcome outcome;
        bool shown;
    };
    const Case cases[] = {
        {{false, kErrorServiceNotActive, kServiceStopped}, false},
        {{false, kErrorServiceCannotAcceptControl, kServiceStopPending}, false},
        {{false, kErrorServiceCannotAcceptControl, kServiceStartPending}, true},
        {{false, 5, kServiceRunning}, true},
    };
    for (const Case& c : cases) {
        InstallExisting();
        (void)m_notifier.Take();
        m_scm.stopOutcome = c.outcome;
        EXPECT_TRUE(m_installer.UninstallService());
        EXPECT_TRUE(m_scm.services.empty()) << "removal goes on either way";
        if (c.shown)
            EXPECT_THAT(m_notifier.Texts(), ElementsAre(L"Could not stop service")) << c.outcome.error;
        else
            EXPECT_THAT(m_notifier.Texts(), IsEmpty()) << c.outcome.error;
    }
}

TEST_F(RegistrationTest, WithoutAServiceManagerInstallingFailsVisiblyAndRemovingFindsNothing)
{
    m_scm.managerOpens = false;
    EXPECT_FALSE(m_installer.IsServiceInstalled());
    EXPECT_TRUE(m_installer.UninstallService());
    EXPECT_FALSE(m_installer.InstallService());
    EXPECT_THAT(m_notifier.Texts(), ElementsAre(L"Could not open Service Manager"));
}

TEST_F(RegistrationTest, AServiceThatCannotBeOpenedForRemovalIsShown)
{
    InstallExisting();
    m_scm.openForRemovalFails = true;
    EXPECT_FALSE(m_installer.UninstallService());
    EXPECT_THAT(m_notifier.Texts(), ElementsAre(L"Could not open service"));
}

TEST_F(RegistrationTest, WithoutTheExecutablesPathNothingIsInstalledAndNothingShown)
{
    m_modulePath.reset();
    EXPECT_FALSE(m_installer.InstallService());
    EXPECT_THAT(m_scm.journal, IsEmpty());
    EXPECT_THAT(m_notifier.Texts(), IsEmpty());

    Registration registration = Make(L"");
    EXPECT_EQ(registration.RegisterClasses(true), static_cast<HResult>(0x8007007Au));
    EXPECT_EQ(registration.RegisterTypeLibrary(), static_cast<HResult>(0x8007007Au));
    EXPECT_THAT(m_machine.AllKeys(), IsEmpty());
    EXPECT_THAT(m_typeLibrary.calls, IsEmpty());
}

TEST_F(RegistrationTest, ClassesGoToTheMachineRootAndTheTypeLibraryFollows)
{
    Registration registration = Make();
    EXPECT_EQ(registration.RegisterClasses(true), kSOk);
    EXPECT_THAT(CheckPlan(m_machine, LightControlClassPlan(kExe)), IsEmpty());
    EXPECT_THAT(m_user.AllKeys(), IsEmpty());
    EXPECT_THAT(m_typeLibrary.calls, ElementsAre("register"));

    m_typeLibrary.result = kTypeLibFailure;
    EXPECT_EQ(registration.UnregisterClasses(true), kTypeLibFailure);
    EXPECT_THAT(m_machine.AllKeys(), ElementsAre(L"clsid"));
}

TEST_F(RegistrationTest, PerUserRegistrationPutsTheClassesUnderTheUserButTheAppIdUnderTheMachine)
{
    InstallExisting();
    Registration registration = Make();
    registration.SetPerUser();
    EXPECT_EQ(registration.RegisterAppKey(false), kSOk);
    EXPECT_EQ(registration.RegisterClasses(true), kSOk);

    EXPECT_THAT(CheckPlan(m_user, LightControlClassPlan(kExe)), IsEmpty());
    EXPECT_FALSE(m_machine.KeyExists(L"CLSID"));
    EXPECT_TRUE(m_machine.KeyExists(AppIdKeyPath()));
    EXPECT_TRUE(m_scm.services.empty()) << "an installed service is still removed";
    EXPECT_THAT(m_typeLibrary.calls, ElementsAre("register per user"));

    EXPECT_EQ(registration.UnregisterClasses(true), kSOk);
    EXPECT_THAT(m_user.AllKeys(), ElementsAre(L"clsid"));
    EXPECT_THAT(m_typeLibrary.calls, ElementsAre("register per user", "unregister per user"));
}

TEST_F(RegistrationTest, AClassKeyThatCannotBeWrittenFailsBeforeTheTypeLibrary)
{
    m_machine.DenyWriting(L"CLSID");
    EXPECT_EQ(Make().RegisterClasses(true), static_cast<HResult>(0x80070005u));
    EXPECT_THAT(m_typeLibrary.calls, IsEmpty());
}

} // namespace
} // namespace ovled::service
