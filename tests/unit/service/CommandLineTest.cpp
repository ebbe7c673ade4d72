#include "service/CommandLine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ovled::service {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr HResult kTypeLibFailure = static_cast<HResult>(0x8002801Cu);

class RecordingActions final : public ISwitchActions {
public:
    void SetPerUser() override { calls.push_back("SetPerUser"); }
    HResult RegisterAppKey(bool asService) override
    {
        calls.push_back(asService ? "RegisterAppKey(service)" : "RegisterAppKey(server)");
        return appKeyResult;
    }
    HResult UnregisterAppKey() override
    {
        calls.push_back("UnregisterAppKey");
        return appKeyResult;
    }
    HResult RegisterClasses(bool withTypeLibrary) override
    {
        calls.push_back(withTypeLibrary ? "RegisterClasses(typelib)" : "RegisterClasses");
        return classesResult;
    }
    HResult UnregisterClasses(bool withTypeLibrary) override
    {
        calls.push_back(withTypeLibrary ? "UnregisterClasses(typelib)" : "UnregisterClasses");
        return classesResult;
    }
    HResult RegisterTypeLibrary() override
    {
        calls.push_back("RegisterTypeLibrary");
        return typeLibraryResult;
    }
    HResult UnregisterTypeLibrary() override
    {
        calls.push_back("UnregisterTypeLibrary");
        return typeLibraryResult;
    }

    std::vector<std::string> calls;
    HResult appKeyResult = kSOk;
    HResult classesResult = kSOk;
    HResult typeLibraryResult = kSOk;
};

TEST(CommandLine, EveryDashOrSlashStartsATokenThatEndsAtBlankSpace)
{
    EXPECT_THAT(SwitchTokens(L"C:\\a-b\\OvLedService.exe /RegServer\t-Embedding"),
                ElementsAre(L"b\\OvLedService.exe", L"RegServer", L"Embedding"));
    EXPECT_THAT(SwitchTokens(L"--x/y"), ElementsAre(L"-x/y", L"x/y", L"y"));
    EXPECT_THAT(SwitchTokens(L"/ -"), ElementsAre(L"", L""));
    EXPECT_THAT(SwitchTokens(L"OvLedService.exe RegServer"), IsEmpty());
}

TEST(CommandLine, SwitchesMatchInAnyCaseWithEitherLeadingCharacter)
{
    EXPECT_EQ(FindSwitch(L"app.exe /regserver"), CommandSwitch::RegServer);
    EXPECT_EQ(FindSwitch(L"app.exe -RegServer"), CommandSwitch::RegServer);
    EXPECT_EQ(FindSwitch(L"app.exe /REGSERVERPERUSER"), CommandSwitch::RegServerPerUser);
    EXPECT_EQ(FindSwitch(L"app.exe -unregserverperuser"), CommandSwitch::UnregServerPerUser);
    EXPECT_EQ(FindSwitch(L"app.exe /UnRegServer"), CommandSwitch::UnregServer);
    EXPECT_EQ(FindSwitch(L"app.exe -sErViCe"), CommandSwitch::Service);
    EXPECT_EQ(FindSwitch(L"app.exe\t/Service\t"), CommandSwitch::Service);
}

TEST(CommandLine, TokensThatAreNotExactlyASwitchAreIgnored)
{
    EXPECT_EQ(FindSwitch(L"app.exe /RegServer:x"), CommandSwitch::None);
    EXPECT_EQ(FindSwitch(L"app.exe /RegServerX"), CommandSwitch::None);
    EXPECT_EQ(FindSwitch(L"app.exe /RegServe"), CommandSwitch::None);
    EXPECT_EQ(FindSwitch(L"app.exe RegServer"), CommandSwitch::None);
    EXPECT_EQ(FindSwitch(L"app.exe \"/RegServer\""), CommandSwitch::None);
    EXPECT_EQ(FindSwitch(L"app.exe -Embedding"), CommandSwitch::None);
    EXPECT_EQ(FindSwitch(L""), CommandSwitch::None);
}

TEST(CommandLine, ADashInsideATokenStartsAnotherToken)
{
    EXPECT_EQ(FindSwitch(L"app.exe --RegServer"), CommandSwitch::RegServer);
    EXPECT_EQ(FindSwitch(L"app.exe /x-Service"), CommandSwitch::Service);
}

TEST(CommandLine, TheProgramsOwnPathIsScannedToo)
{
    EXPECT_EQ(FindSwitch(L"C:\\Tools\\x-Service y\\OvLedService.exe"), CommandSwitch::Service);
    EXPECT_EQ(FindSwitch(L"\"C:\\x-Service y\\OvLedService.exe\" /RegServer"), CommandSwitch::RegServer);
    EXPECT_EQ(FindSwitch(L"\"C:\\x-Service\\OvLedService.exe\""), CommandSwitch::None);
}

TEST(CommandLine, RegistrationSwitchesAreLookedForBeforeService)
{
    EXPECT_EQ(FindSwitch(L"app.exe /Service /RegServer"), CommandSwitch::RegServer);
    EXPECT_EQ(FindSwitch(L"app.exe -Service -unregserverperuser"), CommandSwitch::UnregServerPerUser);
}

TEST(CommandLine, TheFirstMatchingRegistrationTokenWins)
{
    EXPECT_EQ(FindSwitch(L"app.exe /RegServer /UnregServer"), CommandSwitch::RegServer);
    EXPECT_EQ(FindSwitch(L"app.exe /UnregServer /RegServer"), CommandSwitch::UnregServer);
    EXPECT_EQ(FindSwitch(L"app.exe /RegServerPerUser /RegServer"), CommandSwitch::RegServerPerUser);
}

TEST(CommandLine, CaseIsFoldedByTheGivenMapping)
{
    // U+0131 (dotless i) upper-cases to 'I' in the system's mapping, not in the ASCII one.
    FoldCase turkish = [](wchar_t c) noexcept { return c == L'\u0131' ? L'I' : FoldAsciiCase(c); };
    EXPECT_EQ(FindSwitch(L"app.exe /Serv\u0131ce", turkish), CommandSwitch::Service);
    EXPECT_EQ(FindSwitch(L"app.exe /Serv\u0131ce"), CommandSwitch::None);
}

TEST(HandleCommandLine, NoSwitchStartsTheModuleAndDoesNoRegistrationWork)
{
    RecordingActions actions;
    HResult code = -1;
    EXPECT_TRUE(HandleCommandLine(L"C:\\OvLedService.exe -Embedding", actions, code));
    EXPECT_EQ(code, kSOk);
    EXPECT_THAT(actions.calls, IsEmpty());
}

TEST(HandleCommandLine, RegServerRegistersAsALocalServerAndAnswersTheClassResult)
{
    RecordingActions actions;
    actions.appKeyResult = kEFail; // never decides the exit code
    actions.classesResult = kTypeLibFailure;
    HResult code = 0;
    EXPECT_FALSE(HandleCommandLine(L"app.exe /RegServer", actions, code));
    EXPECT_THAT(actions.calls, ElementsAre("RegisterAppKey(server)", "RegisterClasses(typelib)"));
    EXPECT_EQ(code, kTypeLibFailure);
}

TEST(HandleCommandLine, ServiceRegistersAsAService)
{
    RecordingActions actions;
    HResult code = -1;
    EXPECT_FALSE(HandleCommandLine(L"app.exe /service", actions, code));
    EXPECT_THAT(actions.calls, ElementsAre("RegisterAppKey(service)", "RegisterClasses(typelib)"));
    EXPECT_EQ(code, kSOk);
}

TEST(HandleCommandLine, UnregServerRemovesTheAppKeyOnlyAfterTheClasses)
{
    RecordingActions actions;
    actions.appKeyResult = kEFail;
    HResult code = 0;
    EXPECT_FALSE(HandleCommandLine(L"app.exe /UnregServer", actions, code));
    EXPECT_THAT(actions.calls, ElementsAre("UnregisterClasses(typelib)", "UnregisterAppKey"));
    EXPECT_EQ(code, kEFail) << "the result of the last action";

    RecordingActions failing;
    failing.classesResult = kTypeLibFailure;
    EXPECT_FALSE(HandleCommandLine(L"app.exe /UnregServer", failing, code));
    EXPECT_THAT(failing.calls, ElementsAre("UnregisterClasses(typelib)"));
    EXPECT_EQ(code, kTypeLibFailure);
}

TEST(HandleCommandLine, TypeLibrarySwitchesTouchTheTypeLibraryAloneAndAnswerItsResult)
{
    RecordingActions reg;
    reg.typeLibraryResult = kTypeLibFailure;
    HResult code = 0;
    EXPECT_FALSE(HandleCommandLine(L"app.exe /regtypelib", reg, code));
    EXPECT_THAT(reg.calls, ElementsAre("RegisterTypeLibrary"));
    EXPECT_EQ(code, kTypeLibFailure);

    RecordingActions unreg;
    EXPECT_FALSE(HandleCommandLine(L"app.exe -UnregTypeLib /Service", unreg, code));
    EXPECT_THAT(unreg.calls, ElementsAre("UnregisterTypeLibrary"));
    EXPECT_EQ(code, kSOk);
}

TEST(HandleCommandLine, PerUserFormsSwitchToPerUserBeforeTheirWork)
{
    RecordingActions reg;
    HResult code = -1;
    EXPECT_FALSE(HandleCommandLine(L"app.exe /RegServerPerUser", reg, code));
    EXPECT_THAT(reg.calls, ElementsAre("SetPerUser", "RegisterAppKey(server)", "RegisterClasses(typelib)"));

    RecordingActions unreg;
    EXPECT_FALSE(HandleCommandLine(L"app.exe /UnregServerPerUser", unreg, code));
    EXPECT_THAT(unreg.calls, ElementsAre("SetPerUser", "UnregisterClasses(typelib)", "UnregisterAppKey"));
}

} // namespace
} // namespace ovled::service
