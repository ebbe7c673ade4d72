#include "lighting/MusicOutput.h"
#include "tests/support/FakeDevices.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace ovled {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr Rgb kColour{0x11, 0x22, 0x33};

class MusicOutputTest : public ::testing::Test {
protected:
    void Write(std::vector<int> devices, Rgb colour = kColour) { m_output.Write(EnabledDevices(devices), colour); }
    std::vector<std::string> Shown(const std::function<void()>& ticks)
    {
        m_journal.Clear();
        ticks();
        return m_journal.Entries();
    }

    test::Journal m_journal;
    test::FakeLed m_onboard{m_journal, "onboard", true};
    test::FakeLed m_strip0{m_journal, "strip 0", true};
    test::FakeLed m_strip1{m_journal, "strip 1", true};
    DevicePainter m_painter{m_onboard, {&m_strip0, &m_strip1}};
    MusicOutput m_output{m_painter};
};

TEST_F(MusicOutputTest, OnlyTheEnabledDevicesAreShownTheColourAsMusic)
{
    EXPECT_THAT(Shown([&] { Write({1}); }), ElementsAre("strip 1: ShowColour music 112233"));
    EXPECT_THAT(Shown([&] { Write({-1}); }), ElementsAre("onboard: ShowColour music 112233"));
    EXPECT_THAT(Shown([&] { Write({-1, 0, 2, 40}); }), ElementsAre("strip 0: ShowColour music 112233"))
        << "the onboard zone shows the colour already; strips 2 and 40 are not the manager's devices";
    EXPECT_THAT(Shown([&] { Write({}); }), IsEmpty());
}

// A device is written when its colour changed, when its last write failed, when it (re)enters the set, at
// a new run, and once a refresh period has passed; otherwise the firmware hears nothing.
TEST_F(MusicOutputTest, WritesOnlyWhatTheBoardDoesNotShowYet)
{
    const auto writesOf = [&](const std::function<void()>& ticks) { return Shown(ticks).size(); };
    constexpr Rgb kOther{0x44, 0x55, 0x66};

    EXPECT_EQ(writesOf([&] { Write({0}); }), 1u) << "first tick";
    EXPECT_EQ(writesOf([&] {
                  for (std::uint32_t i = 1; i < kColourRefreshTicks; ++i)
                      Write({0});
              }),
              0u)
        << "the same colour within the refresh period";
    EXPECT_EQ(writesOf([&] { Write({0}); }), 1u) << "refreshed a period after the last write";
    EXPECT_EQ(writesOf([&] { Write({0}, kOther); }), 1u) << "a new colour";

    m_strip0.refusals = 1;
    EXPECT_EQ(writesOf([&] { Write({0}); }), 1u) << "the write is refused";
    EXPECT_EQ(writesOf([&] { Write({0}); }), 1u) << "a failed write is tried again at the next tick";
    EXPECT_EQ(writesOf([&] { Write({0}); }), 0u);

    EXPECT_EQ(writesOf([&] { Write({1}); }), 1u);
    EXPECT_EQ(writesOf([&] { Write({0, 1}); }), 1u) << "strip 0 came back to the set, strip 1 stayed";
    m_output.Restart();
    EXPECT_EQ(writesOf([&] { Write({0, 1}); }), 2u) << "a new run forgets what was shown";
}

} // namespace
} // namespace ovled
