#include "app/AppOptions.h"
#include "app/Presentation.h"
#include "app/StringIds.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ovled::app {
namespace {

using ::testing::ElementsAre;

TEST(Presentation, ColoursAreShownRedGreenBlueFromTheColourArgument)
{
    EXPECT_EQ(ColourText(0x0000FF), L"#FF0000");
    EXPECT_EQ(ColourText(0x00FF00), L"#00FF00");
    EXPECT_EQ(ColourText(0x563412), L"#123456");
    EXPECT_EQ(ColourText(0), L"#000000");
    EXPECT_EQ(ColourText(kNoColour), L"");
}

TEST(Presentation, NightTimesAreTakenAsTheServiceTakesThem)
{
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"23:00", L"23:00"}, {L"7:05", L"07:05"}, {L"00:00", L"00:00"}, {L"23:59", L"23:59"},
        {L"24:00", nullptr},  {L"12:60", nullptr}, {L"7:5", nullptr},    {L"123:00", nullptr},
        {L":30", nullptr},    {L"ab:cd", nullptr}, {L"", nullptr},       {L"07:00 ", nullptr},
    };
    for (const auto& [text, expected] : rows) {
        std::wstring normalised = L"unchanged";
        EXPECT_EQ(ParseClockTime(text, normalised), expected != nullptr) << text;
        EXPECT_EQ(normalised, expected ? expected : L"unchanged") << text;
    }
}

TEST(Presentation, DeviceRowsGetTheirOwnMnemonicInTheirName)
{
    EXPECT_EQ(WithMnemonic(L"Onboard zone", DeviceMnemonic(kOnboardDevice)), L"&Onboard zone");
    EXPECT_EQ(WithMnemonic(L"Strip 3", DeviceMnemonic(3)), L"Strip &3");
    EXPECT_EQ(WithMnemonic(L"Strip 13", DeviceMnemonic(3)), L"Strip 1&3");
    EXPECT_EQ(WithMnemonic(L"Desk", DeviceMnemonic(2)), L"Desk (&2)");
    EXPECT_EQ(WithMnemonic(L"Rock & roll", DeviceMnemonic(kOnboardDevice)), L"R&ock && roll");
    EXPECT_EQ(WithMnemonic(L"Strip 10", DeviceMnemonic(10)), L"Strip 10");
}

TEST(Presentation, PatternsTakeNumberedArguments)
{
    EXPECT_EQ(Substitute(L"%1: %2", {L"Lighting", L"lights on"}), L"Lighting: lights on");
    EXPECT_EQ(Substitute(L"%2 %1 %1", {L"a", L"b"}), L"b a a");
    EXPECT_EQ(Substitute(L"50%% %3 %", {L"a"}), L"50% %3 %");
}

TEST(Presentation, EveryStatusThatAPersonCanActOnSaysHow)
{
    for (ServiceStatus status : {ServiceStatus::Stopped, ServiceStatus::NotInstalled, ServiceStatus::AccessDenied,
                                 ServiceStatus::NotAnswering})
        EXPECT_NE(StatusMessage(status).suggestion, 0) << static_cast<int>(status);
    EXPECT_EQ(StatusMessage(ServiceStatus::Running).suggestion, 0);
    // The messages follow the order of the statuses (the string table is laid out so).
    for (int status = 0; status <= static_cast<int>(ServiceStatus::Failed); ++status)
        EXPECT_EQ(StatusMessage(static_cast<ServiceStatus>(status)).message, IDS_STATUS_FIRST + status);
}

TEST(Presentation, TheTrayIconShowsOnOffOrAProblem)
{
    Snapshot snapshot;
    snapshot.status = ServiceStatus::Running;
    EXPECT_EQ(TrayIconFor(snapshot), TrayIconKind::On);
    snapshot.state.lightsOn = false;
    EXPECT_EQ(TrayIconFor(snapshot), TrayIconKind::Off);
    snapshot.status = ServiceStatus::NotAnswering;
    EXPECT_EQ(TrayIconFor(snapshot), TrayIconKind::Problem);
    snapshot.status = ServiceStatus::Stopped;
    EXPECT_EQ(TrayIconFor(snapshot), TrayIconKind::Problem);
    EXPECT_THAT(OffReasonStrings(4 | 8 | 1), ElementsAre(IDS_REASON_LOCKED, IDS_REASON_NIGHT, IDS_REASON_LIGHTS_OFF));
}

TEST(AppOptions, ALogonStartHonoursTheUsersOptionsAndEveryOtherStartShowsTheWindow)
{
    const AppOptions all{true, true};
    const AppOptions noLogon{true, false};
    const AppOptions noTray{false, true};
    EXPECT_EQ(DecideStart(L"/logon", all), StartMode::Tray);
    EXPECT_EQ(DecideStart(L"-LOGON", all), StartMode::Tray);
    EXPECT_EQ(DecideStart(L"/logon", noLogon), StartMode::Exit);
    EXPECT_EQ(DecideStart(L"/logon", noTray), StartMode::Exit);
    EXPECT_EQ(DecideStart(L"/show /logon", noLogon), StartMode::Window);
    EXPECT_EQ(DecideStart(L"", noLogon), StartMode::Window);
    EXPECT_EQ(DecideStart(L"/logonx", noLogon), StartMode::Window);
}

} // namespace
} // namespace ovled::app
