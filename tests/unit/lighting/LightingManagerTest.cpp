#include "lighting/LightingManager.h"
#include "tests/support/FakeDevices.h"
#include "tests/support/SteppedClock.h"
#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ovled {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using test::FakeBoard;
using test::ReadText;
using test::SteppedClock;
using test::TempFolder;
using test::WriteText;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n";

class LightingManagerTest : public ::testing::Test {
protected:
    void StoreFile(const std::string& body) { WriteText(m_path, kDeclaration + body); }

    LightingManager& Build(int strips, bool onboardOn = true, bool stripsOn = true)
    {
        m_board = std::make_unique<FakeBoard>(strips, onboardOn, stripsOn);
        m_settings = std::make_unique<LightingSettings>(m_path);
        m_manager = std::make_unique<LightingManager>(*m_settings, *m_board, *m_board, m_clock,
                                                      LightingManager::Timing{});
        return *m_manager;
    }

    std::vector<std::string> Calls() { return m_board->Calls().Entries(); }
    std::vector<std::string> MusicCalls() { return m_board->Calls().Matching("music"); }
    void ClearCalls() { m_board->Calls().Clear(); }
    LightingSettings Reread() { return LightingSettings(m_path); }

    TempFolder m_folder;
    std::filesystem::path m_path = m_folder / "Lighting.xml";
    SteppedClock m_clock;
    std::unique_ptr<FakeBoard> m_board;
    std::unique_ptr<LightingSettings> m_settings;
    std::unique_ptr<LightingManager> m_manager;
};

TEST_F(LightingManagerTest, AFirstStartLeavesEveryDeviceInModeNone)
{
    LightingManager& manager = Build(2);
    EXPECT_THAT(Calls(), ElementsAre("onboard: IsOn", "strip 0: IsOn", "strip 1: IsOn", "music: Disable -1",
                                     "music: Disable 0", "music: Disable 1", "music: Stop"));
    EXPECT_EQ(manager.GetModeByIndex(-1), 0);
    EXPECT_EQ(manager.GetModeByIndex(0), 0);
    EXPECT_FALSE(manager.IsThermalRunning());
    EXPECT_EQ(m_clock.TotalSlept(), std::chrono::milliseconds(100));
}

TEST_F(LightingManagerTest, ConstructionHandsSwitchedOnDevicesToTheServiceByTheirStoredMode)
{
    StoreFile("<root><mode>1</mode><external key=\"0\"><mode>2</mode></external>"
              "<external key=\"1\"><mode>7</mode></external></root>");
    Build(3);
    EXPECT_THAT(Calls(), ElementsAre("onboard: IsOn", "onboard: EnterMusicMode", "strip 0: IsOn",
                                     "strip 0: EnterThermalMode", "strip 1: IsOn", "strip 2: IsOn",
                                     "music: Disable -1", "music: Disable 0", "music: Disable 1",
                                     "music: Disable 2", "music: Stop"))
        << "the enable flags are off, so nothing is applied, but the controllers are still prepared";
}

TEST_F(LightingManagerTest, ConstructionLeavesSwitchedOffDevicesAlone)
{
    StoreFile("<root><mode>1</mode><external key=\"0\"><mode>2</mode></external></root>");
    Build(1, false, false);
    EXPECT_THAT(m_board->Calls().Matching("onboard"), ElementsAre("onboard: IsOn"));
    EXPECT_THAT(m_board->Calls().Matching("strip"), ElementsAre("strip 0: IsOn"));
}

TEST_F(LightingManagerTest, StoredModesWithTheirFlagsOnAreAppliedAtStart)
{
    StoreFile("<root><mode>1</mode><isenable>1</isenable><external key=\"0\"><mode>2</mode><enable>1</enable>"
              "</external></root>");
    LightingManager& manager = Build(1);
    EXPECT_THAT(MusicCalls(), ElementsAre("music: Enable -1", "music: Disable 0", "music: Start"));
    EXPECT_TRUE(manager.IsThermalRunning());
}

TEST_F(LightingManagerTest, SettingTheOnboardModeStoresItAndSwitchesTheZoneOn)
{
    LightingManager& manager = Build(1);
    ClearCalls();
    manager.SetModeByIndex(-1, 1);
    EXPECT_THAT(MusicCalls(), ElementsAre("music: Enable -1", "music: Disable 0", "music: Start"));
    EXPECT_EQ(Reread().GetMode(), 1);
    EXPECT_TRUE(Reread().IsEnabled());
    EXPECT_EQ(manager.GetModeByIndex(-1), 1);
}

TEST_F(LightingManagerTest, AnUnknownOnboardModeIsStoredAsNone)
{
    LightingManager& manager = Build(0);
    manager.SetModeByIndex(-1, 1);
    ClearCalls();
    manager.SetModeByIndex(-1, 5);
    EXPECT_EQ(Reread().GetMode(), 0);
    EXPECT_TRUE(Reread().IsEnabled());
    EXPECT_THAT(MusicCalls(), ElementsAre("music: Disable -1", "music: Stop"));
}

TEST_F(LightingManagerTest, AStripKeepsTheRequestedValueOnDiskButActsOnTheNormalisedOne)
{
    LightingManager& manager = Build(1);
    manager.SetModeByIndex(0, 1);
    ClearCalls();
    manager.SetModeByIndex(0, 7);
    EXPECT_EQ(Reread().GetExternalMode(0), 7);
    EXPECT_EQ(Reread().GetExternalEnable(0), 1);
    EXPECT_EQ(manager.GetModeByIndex(0), 7) << "reads the stored value, not the in-memory mode";
    EXPECT_THAT(MusicCalls(), ElementsAre("music: Disable -1", "music: Disable 0", "music: Stop"));
    EXPECT_FALSE(manager.IsThermalRunning());
}

TEST_F(LightingManagerTest, SwitchingTheOnboardZoneOffKeepsItsStoredMode)
{
    LightingManager& manager = Build(0);
    manager.SetModeByIndex(-1, 1);
    ClearCalls();
    manager.SetModeByIndex(-2, 2);
    EXPECT_EQ(Reread().GetMode(), 1);
    EXPECT_FALSE(Reread().IsEnabled());
    EXPECT_THAT(MusicCalls(), ElementsAre("music: Disable -1", "music: Stop"));
    EXPECT_FALSE(manager.IsThermalRunning()) << "a zone that is off starts no thermal thread";
    EXPECT_EQ(manager.GetModeByIndex(-1), 1) << "a read answers the stored mode";
}

TEST_F(LightingManagerTest, AReadLeavesAZoneSwitchedOffDark)
{
    LightingManager& manager = Build(1);
    manager.SetModeByIndex(-1, 2);
    manager.SetModeByIndex(0, 2); // keeps the thermal thread running
    manager.SetModeByIndex(-2, 0);
    EXPECT_EQ(manager.GetModeByIndex(-1), 2);
    ASSERT_TRUE(m_clock.WaitForWaiters(1));
    ClearCalls();
    ASSERT_TRUE(m_clock.StepAndSettle());
    EXPECT_THAT(m_board->Calls().Matching("onboard"), IsEmpty()) << "the read switched the zone back on";
}

TEST_F(LightingManagerTest, SwitchingTheStripsOffChangesNoModeWhateverTheValue)
{
    LightingManager& manager = Build(2);
    manager.SetModeByIndex(0, 1);
    manager.SetModeByIndex(1, 2);
    ASSERT_TRUE(manager.IsThermalRunning());
    ClearCalls();
    manager.SetModeByIndex(-3, 1);
    EXPECT_EQ(Reread().GetExternalEnable(0), 0);
    EXPECT_EQ(Reread().GetExternalMode(0), 1);
    EXPECT_EQ(Reread().GetExternalMode(1), 2);
    EXPECT_THAT(MusicCalls(), ElementsAre("music: Disable -1", "music: Disable 0", "music: Disable 1", "music: Stop"));
    EXPECT_FALSE(manager.IsThermalRunning());

    manager.SetModeByIndex(1, 2);
    EXPECT_EQ(Reread().GetExternalEnable(0), 1) << "storing any strip's mode switches all strips on";
    EXPECT_TRUE(manager.IsThermalRunning());
}

TEST_F(LightingManagerTest, IndicesOutsideTheDevicesChangeNothingAndApplyNothing)
{
    LightingManager& manager = Build(2);
    const std::string before = ReadText(m_path);
    ClearCalls();
    for (int index : {2, 3, 100, -4, -100, INT32_MIN, INT32_MAX})
        manager.SetModeByIndex(index, 1);
    EXPECT_THAT(Calls(), IsEmpty());
    EXPECT_EQ(ReadText(m_path), before);
    EXPECT_EQ(m_clock.TotalSlept(), std::chrono::milliseconds(100)) << "only the construction applied";
}

TEST_F(LightingManagerTest, OnlyAStartOrStopOfTheMusicDriverIsFollowedByThePause)
{
    LightingManager& manager = Build(2); // stops the driver: the first pause
    manager.SetModeByIndex(-1, 2);       // still no music
    manager.SetModeByIndex(0, 1);        // the driver starts: a pause
    manager.SetModeByIndex(1, 2);        // music goes on
    manager.SetModeByIndex(0, 0);        // the driver stops: a pause
    EXPECT_THAT(m_board->Calls().Matching("music: St"),
                ElementsAre("music: Stop", "music: Stop", "music: Start", "music: Start", "music: Stop"));
    EXPECT_EQ(m_clock.TotalSlept(), std::chrono::milliseconds(300));
}

TEST_F(LightingManagerTest, GetModeByIndexAnswersTheOnboardZoneForEveryNegativeIndex)
{
    LightingManager& manager = Build(2);
    manager.SetModeByIndex(-1, 2);
    manager.SetModeByIndex(1, 1);
    EXPECT_EQ(manager.GetModeByIndex(-1), 2);
    EXPECT_EQ(manager.GetModeByIndex(-9), 2);
    EXPECT_EQ(manager.GetModeByIndex(INT32_MIN), 2);
    EXPECT_EQ(manager.GetModeByIndex(0), 0);
    EXPECT_EQ(manager.GetModeByIndex(1), 1);
    EXPECT_EQ(manager.GetModeByIndex(2), 0);
    EXPECT_EQ(manager.GetModeByIndex(INT32_MAX), 0);
}

TEST_F(LightingManagerTest, WithoutStripsOnlyTheOnboardZoneExists)
{
    LightingManager& manager = Build(0);
    EXPECT_EQ(manager.StripCount(), 0);
    manager.SetModeByIndex(0, 1);
    EXPECT_EQ(manager.GetModeByIndex(0), 0);
    EXPECT_EQ(Reread().GetExternalEnable(0), 0);
}

TEST_F(LightingManagerTest, MusicDevicesOnlyCountWhileTheirGroupIsOn)
{
    StoreFile("<root><mode>1</mode><isenable>1</isenable><external key=\"0\"><mode>1</mode><enable>0</enable>"
              "</external><external key=\"1\"><mode>1</mode></external></root>");
    Build(2);
    EXPECT_THAT(MusicCalls(), ElementsAre("music: Enable -1", "music: Disable 0", "music: Disable 1", "music: Start"));
}

TEST_F(LightingManagerTest, TheThermalThreadStartsOnceAndStopsWhenNoDeviceNeedsIt)
{
    LightingManager& manager = Build(2);
    manager.SetModeByIndex(-1, 2);
    ASSERT_TRUE(m_clock.WaitForWaiters(1));
    manager.SetModeByIndex(0, 2);
    manager.ApplyModes();
    manager.ApplyModes();
    EXPECT_EQ(m_clock.Waiters(), 1) << "one thermal thread, however often the modes are applied";
    EXPECT_EQ(m_clock.LastPeriod(), std::chrono::milliseconds(3000));

    manager.SetModeByIndex(-1, 0);
    EXPECT_TRUE(manager.IsThermalRunning()) << "strip 0 still needs it";
    manager.SetModeByIndex(0, 1);
    EXPECT_FALSE(manager.IsThermalRunning());
    EXPECT_TRUE(m_clock.WaitUntilNoWaiters());
}

TEST_F(LightingManagerTest, ARestartAfterAStopRunsOneThreadAgain)
{
    LightingManager& manager = Build(1);
    for (int round = 0; round < 5; ++round) {
        manager.SetModeByIndex(0, 2);
        manager.SetModeByIndex(0, 0);
        manager.SetModeByIndex(0, 2);
        ASSERT_TRUE(m_clock.WaitForWaiters(1));
        EXPECT_EQ(m_clock.Waiters(), 1);
    }
}

TEST_F(LightingManagerTest, EachThermalCycleShowsTheTemperatureOnThermalDevices)
{
    LightingManager& manager = Build(3);
    manager.SetModeByIndex(-1, 2);
    manager.SetModeByIndex(0, 2);
    manager.SetModeByIndex(1, 1);
    ASSERT_TRUE(m_clock.WaitForWaiters(1));
    ClearCalls();
    m_board->SetCelsius(45);
    ASSERT_TRUE(m_clock.StepAndSettle());
    EXPECT_THAT(Calls(), ElementsAre("onboard: IsOn", "onboard: ShowColour thermal ffbf00", "strip 0: ShowColour thermal ffbf00"));

    ClearCalls();
    manager.SetModeByIndex(-3, 0);
    ASSERT_TRUE(m_clock.StepAndSettle());
    EXPECT_THAT(m_board->Calls().Matching("onboard: Show"), ElementsAre("onboard: ShowColour thermal ffbf00"));
    EXPECT_THAT(m_board->Calls().Matching("strip 0: Show"), IsEmpty()) << "strips are off";
}

TEST_F(LightingManagerTest, TheOnboardZoneGetsTheThermalColourWhileAStripKeepsTheThreadRunning)
{
    LightingManager& manager = Build(1);
    manager.SetModeByIndex(-1, 2);
    manager.SetModeByIndex(-2, 2);
    manager.SetModeByIndex(0, 2);
    ASSERT_TRUE(m_clock.WaitForWaiters(1));
    ClearCalls();
    ASSERT_TRUE(m_clock.StepAndSettle());
    EXPECT_THAT(Calls(), ElementsAre("onboard: IsOn", "onboard: ShowColour thermal ffbf00", "strip 0: ShowColour thermal ffbf00"))
        << "the onboard flag plays no part in the cycle; the controller's own IsOn does";
}

TEST_F(LightingManagerTest, ASwitchedOffOnboardControllerGetsNoThermalColour)
{
    LightingManager& manager = Build(0, false);
    manager.SetModeByIndex(-1, 2);
    ASSERT_TRUE(m_clock.WaitForWaiters(1));
    ClearCalls();
    ASSERT_TRUE(m_clock.StepAndSettle());
    EXPECT_THAT(Calls(), ElementsAre("onboard: IsOn"));
}

TEST_F(LightingManagerTest, WithoutATemperatureTheCyclesShowNothing)
{
    LightingManager& manager = Build(1);
    m_board->SetCelsius(std::nullopt);
    manager.SetModeByIndex(0, 2);
    ASSERT_TRUE(m_clock.WaitForWaiters(1));
    ClearCalls();
    ASSERT_TRUE(m_clock.StepAndSettle());
    ASSERT_TRUE(m_clock.StepAndSettle());
    EXPECT_THAT(Calls(), IsEmpty());
}

TEST_F(LightingManagerTest, DestroyingTheManagerEndsItsThermalThread)
{
    LightingManager& manager = Build(1);
    manager.SetModeByIndex(0, 2);
    ASSERT_TRUE(m_clock.WaitForWaiters(1));
    m_manager.reset();
    EXPECT_EQ(m_clock.Waiters(), 0);
}

// What the devices were told, without the music driver's part.
std::vector<std::string> DeviceCalls(test::FakeBoard& board)
{
    std::vector<std::string> calls;
    for (const auto& call : board.Calls().Entries())
        if (call.rfind("music", 0) != 0 && call.find("IsOn") == std::string::npos)
            calls.push_back(call);
    return calls;
}

TEST_F(LightingManagerTest, WhileARuleHoldsEveryDeviceIsDarkAndTheSourcesStop)
{
    LightingManager& manager = Build(3);
    manager.SetModeByIndex(-1, 2);
    manager.SetModeByIndex(0, 1);
    manager.SetModeByIndex(2, 2);
    ClearCalls();
    manager.LightsOffNow(std::nullopt);
    EXPECT_EQ(manager.HoldingRules(), kRuleOffNow);
    EXPECT_THAT(DeviceCalls(*m_board),
                ElementsAre("onboard: EnterThermalMode", "onboard: ShowColour thermal 000000", "strip 0: EnterThermalMode",
                            "strip 0: ShowColour thermal 000000", "strip 1: EnterThermalMode",
                            "strip 1: ShowColour thermal 000000", "strip 2: EnterThermalMode",
                            "strip 2: ShowColour thermal 000000"))
        << "every strip, not only the two a suspend darkens";
    EXPECT_THAT(MusicCalls(), ElementsAre("music: Stop"));
    EXPECT_FALSE(manager.IsThermalRunning());
    m_board->Driver()->Output().Write(EnabledDevices(std::vector<int>{0}), Rgb{9, 9, 9});
    EXPECT_THAT(m_board->Calls().Matching("strip 0: Show"), ElementsAre("strip 0: ShowColour thermal 000000"))
        << "a colour tick that comes late paints nothing";

    ClearCalls();
    manager.SetModeByIndex(1, 1);
    EXPECT_THAT(DeviceCalls(*m_board), IsEmpty()) << "a set is stored, the lights stay off";
    manager.SetModeByIndex(1, 0);
    manager.LightsOnNow();
    EXPECT_EQ(manager.HoldingRules(), 0u);
    EXPECT_THAT(DeviceCalls(*m_board),
                ElementsAre("onboard: EnterThermalMode", "strip 0: EnterMusicMode", "strip 1: LeaveHostControl",
                            "strip 2: EnterThermalMode", "onboard: ShowColour thermal ffbf00",
                            "strip 2: ShowColour thermal ffbf00"))
        << "the modes come back, and the thermal colour without waiting for a cycle";
    EXPECT_EQ(manager.GetStatus().devices[2].shown, std::nullopt) << "strip 1 shows the board's effect, not black";
    EXPECT_THAT(MusicCalls(), Contains("music: Start"));
    EXPECT_TRUE(manager.IsThermalRunning());
}

TEST_F(LightingManagerTest, BrightnessScalesEverySourceAndIsStored)
{
    LightingManager& manager = Build(1);
    manager.SetModeByIndex(-1, 2);
    manager.SetModeByIndex(0, 1);
    ClearCalls();
    EXPECT_FALSE(manager.SetBrightness(140));
    EXPECT_FALSE(manager.SetBrightness(-1));
    ASSERT_TRUE(manager.SetBrightness(50));
    EXPECT_THAT(m_board->Calls().Matching("onboard: Show"), ElementsAre("onboard: ShowColour thermal 806000"))
        << "45 degrees at half brightness, at once";
    m_board->Driver()->Output().Write(EnabledDevices(std::vector<int>{0}), Rgb{255, 1, 0});
    EXPECT_THAT(m_board->Calls().Matching("strip 0: Show"), ElementsAre("strip 0: ShowColour music 800100"));
    EXPECT_EQ(Reread().GetBrightness(), 50);
    EXPECT_EQ(manager.GetStatus().brightness, 50);
}

} // namespace
} // namespace ovled
