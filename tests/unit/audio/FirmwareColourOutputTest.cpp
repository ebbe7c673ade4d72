#include "audio/FirmwareColourOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <thread>

namespace ovled {
namespace {

// A board as the music colour sees it: items that exist or not, a strip selector whose writes pick the
// strip that the colour item then paints, and EC registers. Every call is journalled.
class FakeFirmware final : public IMusicFirmware {
public:
    bool ItemExists(std::uint32_t id) override
    {
        std::lock_guard lock(m_state);
        Log("exists", id);
        return m_items.count(id) != 0;
    }
    std::optional<std::uint32_t> ReadItem(std::uint32_t id) override
    {
        std::lock_guard lock(m_state);
        Log("read", id);
        if (m_failReads || !m_items.count(id))
            return std::nullopt;
        return m_items[id];
    }
    void WriteItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) override
    {
        std::lock_guard lock(m_state);
        std::ostringstream entry;
        entry << std::hex << "write " << id << " = " << value << " flags " << flags;
        m_journal.push_back(entry.str());
        if (id == kStripSelectItem)
            m_selected = static_cast<int>(value);
        else if (id == kStripColourItem)
            m_stripColours[m_selected].push_back(value);
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
    void FailReads() { m_failReads = true; }
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
    bool m_failReads = false;
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
    FirmwareColourOutput output(board);
    Write(output, {-1});
    EXPECT_EQ(board.Writes(), (std::vector<std::string>{"write 13060043 = 33221100 flags 1"}));
}

TEST(FirmwareColourOutput, StripsAreSelectedThenPaintedInTheirOwnByteOrder)
{
    FakeFirmware board;
    board.AddItem(kStripSelectItem, 0xFF0301); // strip count 3 in bits 8-15
    FirmwareColourOutput output(board);
    Write(output, {0, 1, 2, 3, 40});
    EXPECT_EQ(board.Writes(), (std::vector<std::string>{
                                  "write 13060046 = 0 flags 3", "write 13060049 = 331122 flags 3", // blue, red, green
                                  "write 13060046 = 1 flags 3", "write 13060049 = 112233 flags 3", // red, green, blue
                                  "write 13060046 = 2 flags 3", "write 13060049 = 112233 flags 3"}))
        << "strips 3 and 40 are beyond the count";
}

TEST(FirmwareColourOutput, OnlyTheEnabledKindOfDeviceIsTouched)
{
    FakeFirmware board;
    board.AddItem(kStripSelectItem, 0x0200);
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

TEST(FirmwareColourOutput, NoStripIsWrittenWhenTheStripCountCannotBeRead)
{
    FakeFirmware board;
    board.AddItem(kStripSelectItem, 0x0200);
    board.AddItem(kOnboardEcColourItem, 0);
    board.FailReads();
    FirmwareColourOutput output(board);
    Write(output, {-1, 0, 1});
    EXPECT_EQ(board.Writes(), (std::vector<std::string>{"ec 0:71 = 33", "ec 0:72 = 22", "ec 0:70 = 11"}));

    FakeFirmware noStrips;
    FirmwareColourOutput bare(noStrips);
    Write(bare, {0});
    EXPECT_TRUE(noStrips.Writes().empty());
}

TEST(FirmwareColourOutput, AColourNeverLandsOnAStripThatAnotherThreadSelected)
{
    FakeFirmware board;
    board.AddItem(kStripSelectItem, 0x0200);
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
        Write(output, {0});
    done = true;
    other.join();

    const auto strip0 = board.ColoursOf(0);
    ASSERT_EQ(strip0.size(), 2000u);
    for (const auto colour : strip0)
        EXPECT_EQ(colour, StripColourWord(0, kColour));
    for (const auto colour : board.ColoursOf(1))
        EXPECT_EQ(colour, kOtherColour);
}

} // namespace
} // namespace ovled
