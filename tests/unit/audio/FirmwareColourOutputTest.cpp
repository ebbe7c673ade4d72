#include "audio/FirmwareColourOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

namespace ovled {
namespace {

// A board as the music colour sees it: items that exist or not, a strip selector whose writes pick the
// strip that the colour item then paints (a strip beyond the count in bits 8-15 of the selector is
// refused), and EC registers. Every call is journalled.
class FakeFirmware final : public IMusicFirmware {
public:
    bool ItemExists(std::uint32_t id) override
    {
        std::lock_guard lock(m_state);
        Log("exists", id);
        return m_items.count(id) != 0;
    }
    bool WriteItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) override
    {
        std::lock_guard lock(m_state);
        std::ostringstream entry;
        entry << std::hex << "write " << id << " = " << value << " flags " << flags;
        const bool refused = m_failWrites > 0 || !m_items.count(id) ||
                             (id == kStripSelectItem && value >= ((m_items[id] >> 8) & 0xFF));
        if (m_failWrites > 0)
            --m_failWrites;
        m_journal.push_back(entry.str() + (refused ? " refused" : ""));
        if (refused)
            return false;
        if (id == kStripSelectItem)
            m_selected = static_cast<int>(value);
        else if (id == kStripColourItem)
            m_stripColours[m_selected].push_back(value);
        return true;
    }
    void WriteEcRegister(std::uint8_t bank, std::uint8_t address, std::uint8_t value) override
    {
        std::lock_guard lock(m_state);
        std::ostringstream entry;
        entry << std::hex << "ec " << int(bank) << ":" << int(address) << " = " << int(value);
        m_journal.push_back(entry.str());
    }
    std::mutex& StripSelectionMutex() override { return m_stripSelection; }

    void AddItem(std::uint32_t id, std::uint32_t value) { m_items[id] = value; }
    void FailWrites(int count)
    {
        std::lock_guard lock(m_state);
        m_failWrites = count;
    }
    std::vector<std::string> Journal()
    {
        std::lock_guard lock(m_state);
        return m_journal;
    }
    std::vector<std::string> Writes()
    {
        std::vector<std::string> writes;
        for (const auto& entry : Journal())
            if (entry.rfind("write", 0) == 0 || entry.rfind("ec", 0) == 0)
                writes.push_back(entry);
        return writes;
    }
    std::vector<std::uint32_t> ColoursOf(int strip)
    {
        std::lock_guard lock(m_state);
        return m_stripColours[strip];
    }
    void ClearJournal()
    {
        std::lock_guard lock(m_state);
        m_journal.clear();
    }

private:
    void Log(const char* what, std::uint32_t id)
    {
        std::ostringstream entry;
        entry << std::hex << what << " " << id;
        m_journal.push_back(entry.str());
    }

    std::mutex m_state;
    std::mutex m_stripSelection;
    std::map<std::uint32_t, std::uint32_t> m_items;
    int m_failWrites = 0;
    int m_selected = -1;
    std::map<int, std::vector<std::uint32_t>> m_stripColours;
    std::vector<std::string> m_journal;
};

constexpr Rgb kColour{0x11, 0x22, 0x33};

void Write(IColourOutput& output, std::vector<int> devices, Rgb colour = kColour)
{
    output.Write(EnabledDevices(devices), colour);
}

TEST(FirmwareColourOutput, OnboardGoesToTheEcRegistersBlueGreenRedWhereTheSwitchItemExists)
{
    FakeFirmware board;
    board.AddItem(kOnboardEcColourItem, 0);
    FirmwareColourOutput output(board);
    Write(output, {-1});
    EXPECT_EQ(board.Writes(), (std::vector<std::string>{"ec 0:71 = 33", "ec 0:72 = 22", "ec 0:70 = 11"}));
}

TEST(FirmwareColourOutput, OnboardGoesToItsColourItemWhereTheSwitchItemIsMissing)
{
    FakeFirmware board;
    board.AddItem(kOnboardColourItem, 0);
    FirmwareColourOutput output(board);
    Write(output, {-1});
    EXPECT_EQ(board.Writes(), (std::vector<std::string>{"write 13060043 = 33221100 flags 1"}));
}

TEST(FirmwareColourOutput, StripsAreSelectedThenPaintedInTheirOwnByteOrder)
{
    FakeFirmware board;
    board.AddItem(kStripSelectItem, 0xFF0301); // strip count 3 in bits 8-15
    board.AddItem(kStripColourItem, 0);
    FirmwareColourOutput output(board);
    Write(output, {0, 1, 2, 3, 40});
    EXPECT_EQ(board.Writes(), (std::vector<std::string>{
                                  "write 13060046 = 0 flags 3", "write 13060049 = 331122 flags 3", // blue, red, green
                                  "write 13060046 = 1 flags 3", "write 13060049 = 112233 flags 3", // red, green, blue
                                  "write 13060046 = 2 flags 3", "write 13060049 = 112233 flags 3",
                                  "write 13060046 = 3 flags 3 refused", "write 13060046 = 28 flags 3 refused"}))
        << "strips 3 and 40 are beyond the count: their select is refused and nothing is painted";
    for (const auto& entry : board.Journal())
        EXPECT_EQ(entry.rfind("read", 0), std::string::npos) << "the strip count is never read: " << entry;
}

TEST(FirmwareColourOutput, OnlyTheEnabledKindOfDeviceIsTouched)
{
    FakeFirmware board;
    board.AddItem(kStripSelectItem, 0x0200);
    board.AddItem(kStripColourItem, 0);
    board.AddItem(kOnboardColourItem, 0);
    FirmwareColourOutput output(board);

    Write(output, {1});
    EXPECT_EQ(board.Writes(),
              (std::vector<std::string>{"write 13060046 = 1 flags 3", "write 13060049 = 112233 flags 3"}));
    for (const auto& entry : board.Journal()) {
        EXPECT_EQ(entry.find("13060040"), std::string::npos) << "onboard untouched: " << entry;
        EXPECT_EQ(entry.find("13060043"), std::string::npos) << "onboard untouched: " << entry;
    }

    board.ClearJournal();
    Write(output, {-1});
    EXPECT_EQ(board.Writes(), (std::vector<std::string>{"write 13060043 = 33221100 flags 1"}));
    for (const auto& entry : board.Journal())
        EXPECT_EQ(entry.find("13060046"), std::string::npos) << "strips untouched: " << entry;

    board.ClearJournal();
    Write(output, {});
    EXPECT_TRUE(board.Journal().empty());
}

TEST(FirmwareColourOutput, AStripWithoutASelectorGetsNoColour)
{
    FakeFirmware noStrips;
    noStrips.AddItem(kStripColourItem, 0);
    FirmwareColourOutput output(noStrips);
    Write(output, {0});
    EXPECT_EQ(noStrips.Writes(), (std::vector<std::string>{"write 13060046 = 0 flags 3 refused"}));
}

// A device is written when its colour changed, when its last write failed, when it (re)enters the set, at
// a new run, and once a refresh period has passed; otherwise the firmware hears nothing.
TEST(FirmwareColourOutput, WritesOnlyWhatTheBoardDoesNotShowYet)
{
    FakeFirmware board;
    board.AddItem(kStripSelectItem, 0x0200);
    board.AddItem(kStripColourItem, 0);
    FirmwareColourOutput output(board);
    const auto writesOf = [&](const std::function<void()>& ticks) {
        board.ClearJournal();
        ticks();
        return board.Writes().size();
    };
    constexpr Rgb kOther{0x44, 0x55, 0x66};

    EXPECT_EQ(writesOf([&] { Write(output, {0}); }), 2u) << "first tick: select and colour";
    EXPECT_EQ(writesOf([&] {
                  for (std::uint32_t i = 1; i < kColourRefreshTicks; ++i)
                      Write(output, {0});
              }),
              0u)
        << "the same colour within the refresh period";
    EXPECT_EQ(writesOf([&] { Write(output, {0}); }), 2u) << "refreshed a period after the last write";
    EXPECT_EQ(writesOf([&] { Write(output, {0}, kOther); }), 2u) << "a new colour";

    board.FailWrites(1);
    EXPECT_EQ(writesOf([&] { Write(output, {0}); }), 1u) << "the select is refused";
    EXPECT_EQ(writesOf([&] { Write(output, {0}); }), 2u) << "a failed write is tried again at the next tick";

    EXPECT_EQ(writesOf([&] { Write(output, {1}); }), 2u);
    EXPECT_EQ(writesOf([&] { Write(output, {0, 1}); }), 2u) << "strip 0 came back to the set, strip 1 stayed";
    output.Restart();
    EXPECT_EQ(writesOf([&] { Write(output, {0, 1}); }), 4u) << "a new run forgets what was shown";
}

TEST(FirmwareColourOutput, AColourNeverLandsOnAStripThatAnotherThreadSelected)
{
    FakeFirmware board;
    board.AddItem(kStripSelectItem, 0x0200);
    board.AddItem(kStripColourItem, 0);
    FirmwareColourOutput output(board);
    constexpr std::uint32_t kOtherColour = 0xABCDEF;
    std::atomic<bool> done{false};
    // Another strip operation: select strip 1 and paint it, under the same process-wide lock.
    std::thread other([&] {
        while (!done) {
            std::lock_guard lock(board.StripSelectionMutex());
            board.WriteItem(kStripSelectItem, 1, 3);
            std::this_thread::yield();
            board.WriteItem(kStripColourItem, kOtherColour, 3);
        }
    });
    for (int i = 0; i < 2000; ++i)
        Write(output, {0}, Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0});
    done = true;
    other.join();

    const auto strip0 = board.ColoursOf(0);
    ASSERT_EQ(strip0.size(), 2000u);
    for (std::size_t i = 0; i < strip0.size(); ++i)
        EXPECT_EQ(strip0[i], StripColourWord(0, Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0}));
    for (const auto colour : board.ColoursOf(1))
        EXPECT_EQ(colour, kOtherColour);
}

} // namespace
} // namespace ovled
