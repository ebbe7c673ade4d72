#include "lighting/PowerEvents.h"
#include "tests/support/FakeDevices.h"
#include "tests/support/SteppedClock.h"
#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>

namespace ovled {
namespace {

using test::FakeBoard;
using test::SteppedClock;
using test::TempFolder;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class PowerEventsTest : public ::testing::Test {
protected:
    void Build(int strips)
    {
        m_board = std::make_unique<FakeBoard>(strips);
        m_settings = std::make_unique<LightingSettings>(m_folder / "Lighting.xml");
        m_manager =
            std::make_unique<LightingManager>(*m_settings, *m_board, *m_board, m_clock, LightingManager::Timing{});
        m_handler = std::make_unique<PowerEventHandler>(*m_manager, *m_board);
    }
    // What the devices were told, without the music driver's part.
    std::vector<std::string> DeviceCalls()
    {
        std::vector<std::string> calls;
        for (const auto& call : m_board->Calls().Entries()) {
            if (call.rfind("music", 0) != 0)
                calls.push_back(call);
        }
        return calls;
    }
    void ClearCalls() { m_board->Calls().Clear(); }

    TempFolder m_folder;
    SteppedClock m_clock;
    std::unique_ptr<FakeBoard> m_board;
    std::unique_ptr<LightingSettings> m_settings;
    std::unique_ptr<LightingManager> m_manager;
    std::unique_ptr<PowerEventHandler> m_handler;
};

TEST_F(PowerEventsTest, SuspendDarkensTheDevicesWithAModeButOnlyTheFirstTwoStrips)
{
    Build(3);
    m_manager->SetModeByIndex(0, kModeMusic);
    m_manager->SetModeByIndex(1, kModeThermal);
    m_manager->SetModeByIndex(2, kModeMusic);
    ClearCalls();

    m_handler->OnPowerBroadcast(kPowerSuspend);
    EXPECT_THAT(DeviceCalls(), ElementsAre("strip 0: SetEffect1 0", "strip 1: SetEffect1 0"));
    EXPECT_TRUE(m_handler->IsSuspended());
}

TEST_F(PowerEventsTest, ResumeRestoresAndStoresEveryStripsModeAndSwitchesTheStripsOn)
{
    Build(3);
    m_manager->SetModeByIndex(0, kModeMusic);
    m_manager->SetModeByIndex(1, kModeThermal);
    m_manager->SetModeByIndex(2, kModeMusic);
    m_manager->SetModeByIndex(kStripsOffCommand, 0);
    m_handler->OnPowerBroadcast(kPowerSuspend);
    ClearCalls();

    m_handler->OnPowerBroadcast(kPowerResumeAutomatic);
    EXPECT_THAT(DeviceCalls(),
                ElementsAre("strip 0: EnterMusicMode", "strip 1: EnterThermalMode", "strip 2: EnterMusicMode"));
    EXPECT_EQ(m_settings->GetExternalMode(0), kModeMusic);
    EXPECT_EQ(m_settings->GetExternalMode(1), kModeThermal);
    EXPECT_EQ(m_settings->GetExternalMode(2), kModeMusic);
    EXPECT_EQ(m_settings->GetExternalEnable(0), 1);
    EXPECT_FALSE(m_settings->IsEnabled()) << "the onboard zone had no mode and stays as it was";
    EXPECT_FALSE(m_handler->IsSuspended());
}

// The resume reads a strip's mode, re-enters it on the device and stores it again; a COM caller may
// store another in between.
TEST_F(PowerEventsTest, AModeStoredWhileTheResumeReentersTheDeviceStands)
{
    Build(2);
    m_manager->SetModeByIndex(0, kModeMusic);
    m_handler->OnPowerBroadcast(kPowerSuspend);
    bool changed = false;
    m_board->Calls().OnAdd([&](const std::string& entry) {
        if (entry == "strip 0: EnterMusicMode" && !std::exchange(changed, true))
            m_manager->SetModeByIndex(0, kModeNone);
    });
    m_handler->OnPowerBroadcast(kPowerResumeSuspend);
    EXPECT_TRUE(changed);
    EXPECT_EQ(m_manager->GetModeByIndex(0), kModeNone);
}

TEST_F(PowerEventsTest, AResumeWithoutASuspendChangesNothing)
{
    Build(1);
    m_manager->SetModeByIndex(0, kModeMusic);
    m_manager->SetModeByIndex(kStripsOffCommand, 0);
    ClearCalls();

    for (unsigned resume : {kPowerResumeCritical, kPowerResumeSuspend, kPowerResumeAutomatic})
        m_handler->OnPowerBroadcast(resume);
    EXPECT_THAT(m_board->Calls().Entries(), IsEmpty());
    EXPECT_EQ(m_settings->GetExternalEnable(0), 0);
}

TEST_F(PowerEventsTest, OnlyTheFirstOfTwoResumeEventsRestores)
{
    Build(1);
    m_manager->SetModeByIndex(0, kModeThermal);
    m_handler->OnPowerBroadcast(kPowerSuspend);
    m_handler->OnPowerBroadcast(kPowerResumeSuspend);
    ClearCalls();

    m_handler->OnPowerBroadcast(kPowerResumeAutomatic);
    EXPECT_THAT(m_board->Calls().Entries(), IsEmpty());
}

TEST_F(PowerEventsTest, AnOnboardZoneSwitchedOffIsDarkenedAndComesBackOnInItsStoredMode)
{
    Build(0);
    m_manager->SetModeByIndex(kOnboardDevice, kModeMusic);
    m_manager->SetModeByIndex(kOnboardOffCommand, 0);
    ClearCalls();

    m_handler->OnPowerBroadcast(kPowerSuspend);
    EXPECT_THAT(DeviceCalls(), ElementsAre("onboard: SetEffect1 0"));
    m_handler->OnPowerBroadcast(kPowerResumeCritical);
    EXPECT_THAT(DeviceCalls(), ElementsAre("onboard: SetEffect1 0", "onboard: EnterMusicMode"));
    EXPECT_TRUE(m_settings->IsEnabled());
    EXPECT_EQ(m_settings->GetMode(), kModeMusic);
    EXPECT_THAT(m_board->Calls().Matching("music: Enable"), ElementsAre("music: Enable -1"));
}

TEST_F(PowerEventsTest, AnUnknownStoredModeComesBackAsThermalAndIsStoredAsThermal)
{
    Build(1);
    m_manager->SetModeByIndex(0, 5);
    ASSERT_EQ(m_settings->GetExternalMode(0), 5);
    m_handler->OnPowerBroadcast(kPowerSuspend);
    ClearCalls();

    m_handler->OnPowerBroadcast(kPowerResumeAutomatic);
    EXPECT_THAT(DeviceCalls(), ElementsAre("strip 0: EnterThermalMode"));
    EXPECT_EQ(m_settings->GetExternalMode(0), kModeThermal);
    EXPECT_TRUE(m_manager->IsThermalRunning());
}

TEST_F(PowerEventsTest, OtherPowerEventsAreIgnored)
{
    Build(1);
    m_manager->SetModeByIndex(0, kModeMusic);
    ClearCalls();
    for (unsigned event : {0u, 5u, 10u, 0x8013u})
        m_handler->OnPowerBroadcast(event);
    EXPECT_THAT(m_board->Calls().Entries(), IsEmpty());
    EXPECT_FALSE(m_handler->IsSuspended());
}

TEST_F(PowerEventsTest, AResumeWhileARuleKeepsTheLightsOffLeavesThemOff)
{
    Build(2);
    m_manager->SetModeByIndex(0, kModeMusic);
    m_manager->LightsOffNow(std::nullopt);
    m_handler->OnPowerBroadcast(kPowerSuspend);
    ClearCalls();
    m_handler->OnPowerBroadcast(kPowerResumeAutomatic);
    const auto calls = DeviceCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "strip 1: ShowColour thermal 000000") << "what the resume handed back goes dark again";
    EXPECT_THAT(m_board->Calls().Matching("music: Start"), IsEmpty());
}

} // namespace
} // namespace ovled
