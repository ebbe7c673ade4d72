#include "lighting/LedConfigFile.h"
#include "platform/EventIds.h"
#include "tests/support/SettingsFileCases.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <filesystem>
#include <string>

namespace ovled {
namespace {

using test::ReadText;
using test::TempFolder;
using test::WriteText;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n";

class LedConfigFileTest : public ::testing::Test {
protected:
    void WriteEntries(const std::string& entries)
    {
        WriteText(m_path, std::string(kDeclaration) + "<root>" + entries + "</root>");
    }
    std::vector<int> SequenceOf(const std::string& text)
    {
        WriteEntries("<led key=\"3\"><colorsequence>" + text + "</colorsequence></led>");
        return m_file.ReadColorSequence(3);
    }

    TempFolder m_folder;
    std::filesystem::path m_path = m_folder / "lightingControl.xml";
    LedConfigFile m_file{m_path};
};

TEST_F(LedConfigFileTest, FirstReadCreatesTheFileWithAnEmptyRoot)
{
    EXPECT_TRUE(m_file.IsLedEnabled(0));
    TiXmlDocument written;
    ASSERT_TRUE(written.LoadFile(m_path.string().c_str()));
    const TiXmlElement* root = written.FirstChild()->NextSibling()->ToElement();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->Value(), "root");
    EXPECT_EQ(root->FirstChild(), nullptr);
}

TEST_F(LedConfigFileTest, DefaultsWithoutEntries)
{
    EXPECT_EQ(m_file.GetLedMode(-1), 0xFF02);
    EXPECT_EQ(m_file.GetLedMode(1), -255); // 0xFFFFFF01
    EXPECT_EQ(m_file.GetLedMode(0), -255);
    EXPECT_TRUE(m_file.IsLedEnabled(-1));
    EXPECT_EQ(m_file.ReadColorSequence(0), (std::vector<int>{0, 1, 2}));
}

TEST_F(LedConfigFileTest, ColourSequenceNeedsThreeLeadingDigits)
{
    EXPECT_EQ(SequenceOf("201"), (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(SequenceOf("9876"), (std::vector<int>{9, 8, 7}));
    EXPECT_EQ(SequenceOf("21"), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(SequenceOf("2a1"), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(SequenceOf(""), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(m_file.ReadColorSequence(4), (std::vector<int>{0, 1, 2}));
}

TEST_F(LedConfigFileTest, WritingAModeAppendsTheLedEntry)
{
    WriteEntries("<led key=\"-1\"><mode>2</mode></led>");
    m_file.SetLedMode(0, static_cast<int>(0x66339901u));
    EXPECT_EQ(m_file.GetLedMode(0), static_cast<int>(0x66339901u));
    EXPECT_EQ(m_file.GetLedMode(-1), 2);

    TiXmlDocument written;
    ASSERT_TRUE(written.LoadFile(m_path.string().c_str()));
    const TiXmlElement* root = written.FirstChild()->NextSibling()->ToElement();
    const TiXmlElement* second = root->FirstChildElement("led")->NextSiblingElement("led");
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second->Attribute("key"), "0");
    EXPECT_STREQ(second->FirstChildElement("mode")->GetText(), "1714657537");
}

TEST_F(LedConfigFileTest, ModesWithTheTopBitReadBackNegative)
{
    m_file.SetLedMode(2, static_cast<int>(0xFF000002u));
    EXPECT_NE(ReadText(m_path).find("<mode>-16777214</mode>"), std::string::npos);
    EXPECT_EQ(m_file.GetLedMode(2), static_cast<int>(0xFF000002u));
}

TEST_F(LedConfigFileTest, EnabledFlagIsPerLed)
{
    m_file.SetLedEnabled(1, false);
    EXPECT_FALSE(m_file.IsLedEnabled(1));
    EXPECT_TRUE(m_file.IsLedEnabled(0));
    m_file.SetLedEnabled(1, true);
    EXPECT_TRUE(m_file.IsLedEnabled(1));
    WriteEntries("<led key=\"5\"><enabled>7</enabled></led>");
    EXPECT_TRUE(m_file.IsLedEnabled(5));
}

TEST_F(LedConfigFileTest, EveryReadSeesTheFileAsItStandsNow)
{
    m_file.SetLedMode(0, 5);
    WriteEntries("<led key=\"0\"><mode>6</mode></led>");
    EXPECT_EQ(m_file.GetLedMode(0), 6);
}

TEST_F(LedConfigFileTest, ReadOnlyFileIsNeverChangedAndReadsStillWork)
{
    WriteEntries("<led key=\"0\"><mode>6</mode></led>");
    const std::string before = ReadText(m_path);
    test::MakeReadOnly(m_path, true);
    m_file.SetLedMode(0, 9);
    m_file.SetLedEnabled(0, false);
    EXPECT_EQ(ReadText(m_path), before);
    EXPECT_EQ(m_file.GetLedMode(0), 6);
    test::MakeReadOnly(m_path, false);
}

TEST_F(LedConfigFileTest, FileOfAnotherShapeIsLeftAloneAndGivesDefaults)
{
    test::RecordingEventLog events;
    WriteText(m_path, "<root><led key=\"0\"><mode>6</mode></led></root>");
    m_file.SetLedMode(0, 9);
    EXPECT_EQ(m_file.GetLedMode(0), -255);
    EXPECT_EQ(ReadText(m_path), "<root><led key=\"0\"><mode>6</mode></led></root>");
    // Every operation reads the file; the event log hears of it once.
    ASSERT_EQ(events.Events().size(), 1u);
    EXPECT_EQ(events.Events()[0].id, events::kSettingsKeptInPlace);
    EXPECT_EQ(events.Events()[0].inserts.at(0), m_path.wstring());
}

TEST_F(LedConfigFileTest, FilesPeopleWriteAreReadByAnOperationOrKeptAside)
{
    for (const test::SettingsFileCase& file : test::FilesOnceReplaced("<root><led key=\"0\"><mode>6</mode></led></root>")) {
        SCOPED_TRACE(file.what);
        TempFolder folder;
        const auto path = folder / "lightingControl.xml";
        WriteText(path, file.bytes);
        test::RecordingEventLog events;
        LedConfigFile config(path);
        EXPECT_EQ(config.GetLedMode(0), file.usable ? 6 : -255);
        EXPECT_EQ(config.GetLedMode(0), file.usable ? 6 : -255);
        if (file.usable) {
            EXPECT_EQ(ReadText(path), file.bytes) << "a read changes nothing";
            EXPECT_TRUE(events.Events().empty());
            continue;
        }
        test::ExpectKeptAsideOnce(path, file.bytes, events);
    }
}

TEST(LedConfigFileInstance, LivesBesideTheExecutable)
{
    EXPECT_EQ(LedConfigFile::DefaultPath().filename(), "lightingControl.xml");
}

} // namespace
} // namespace ovled
