#include "lighting/XmlKeyStore.h"
#include "platform/StackThread.h"
#include "tests/support/SettingsFileCases.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <climits>
#include <string>

namespace ovled {
namespace {

using test::ReadText;
using test::TempFolder;
using test::WriteText;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n";

class XmlKeyStoreTest : public ::testing::Test {
protected:
    // Loads a file holding the declaration and then `body`.
    XmlNodeHandle LoadBody(const std::string& body)
    {
        WriteText(m_path, kDeclaration + body);
        EXPECT_TRUE(m_store.Load(m_path, false));
        return m_store.Root();
    }

    TempFolder m_folder;
    std::filesystem::path m_path = m_folder / "store.xml";
    XmlKeyStore m_store;
};

TEST_F(XmlKeyStoreTest, CreatesAMissingFileWithDeclarationAndEmptyRoot)
{
    ASSERT_TRUE(m_store.Load(m_path, true));
    EXPECT_EQ(m_store.LastLoad(), XmlKeyStore::LoadResult::Created);

    TiXmlDocument written;
    ASSERT_TRUE(written.LoadFile(m_path.string().c_str()));
    const TiXmlDeclaration* declaration = written.FirstChild()->ToDeclaration();
    ASSERT_NE(declaration, nullptr);
    EXPECT_STREQ(declaration->Version(), "1.0");
    EXPECT_STREQ(declaration->Encoding(), "UTF-8");
    EXPECT_STREQ(declaration->Standalone(), "no");
    const TiXmlElement* root = written.FirstChild()->NextSibling()->ToElement();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->Value(), "root");
    EXPECT_EQ(root->FirstChild(), nullptr);
    EXPECT_FALSE(m_store.Root().IsNull());
}

TEST_F(XmlKeyStoreTest, WithoutCreateAMissingFileFailsAndWritesNothing)
{
    EXPECT_FALSE(m_store.Load(m_path, false));
    EXPECT_FALSE(m_store.IsLoaded());
    EXPECT_TRUE(m_store.Root().IsNull());
    EXPECT_FALSE(std::filesystem::exists(m_path));
}

TEST_F(XmlKeyStoreTest, AcceptsARootOfAnyName)
{
    XmlNodeHandle root = LoadBody("<settings><mode>2</mode></settings>");
    int mode = -1;
    EXPECT_TRUE(root.GetInt("mode", &mode));
    EXPECT_EQ(mode, 2);
}

TEST_F(XmlKeyStoreTest, RefusesAFileWhoseFirstNodeIsNotTheDeclaration)
{
    WriteText(m_path, "<!-- note -->\n" + std::string(kDeclaration) + "<root/>");
    EXPECT_FALSE(m_store.Load(m_path, true));
    EXPECT_EQ(m_store.LastLoad(), XmlKeyStore::LoadResult::Unusable);

    WriteText(m_path, "<root><mode>1</mode></root>");
    EXPECT_FALSE(m_store.Load(m_path, true));
    EXPECT_EQ(m_store.LastLoad(), XmlKeyStore::LoadResult::Unusable);
    // Such a file is left as it was: it is XML, only not in our shape.
    EXPECT_EQ(ReadText(m_path), "<root><mode>1</mode></root>");
}

TEST_F(XmlKeyStoreTest, NamesAreLowerCasedAndMatchedExactly)
{
    XmlNodeHandle root = LoadBody("<root><Mode>3</Mode></root>");
    int mode = -1;
    EXPECT_FALSE(root.GetInt("Mode", &mode));
    EXPECT_EQ(mode, -1) << "a failed read leaves the output alone";

    EXPECT_TRUE(root.SetInt("MODE", 1));
    ASSERT_TRUE(m_store.Save());
    const std::string text = ReadText(m_path);
    EXPECT_NE(text.find("<Mode>3</Mode>"), std::string::npos);
    EXPECT_NE(text.find("<mode>1</mode>"), std::string::npos);
}

TEST_F(XmlKeyStoreTest, IntegersAreReadTheWayStrtolReadsThem)
{
    XmlNodeHandle root = LoadBody("<root><hex>0x10</hex><octal>012</octal><word>abc</word>"
                                  "<spaced>  -7px</spaced><huge>99999999999</huge><tiny>-99999999999</tiny>"
                                  "</root>");
    int value = -1;
    EXPECT_TRUE(root.GetInt("hex", &value));
    EXPECT_EQ(value, 16);
    EXPECT_TRUE(root.GetInt("octal", &value));
    EXPECT_EQ(value, 10);
    EXPECT_TRUE(root.GetInt("word", &value));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(root.GetInt("spaced", &value));
    EXPECT_EQ(value, -7);
    EXPECT_TRUE(root.GetInt("huge", &value));
    EXPECT_EQ(value, INT_MAX);
    EXPECT_TRUE(root.GetInt("tiny", &value));
    EXPECT_EQ(value, INT_MIN);
    value = 5;
    EXPECT_FALSE(root.GetInt("missing", &value));
    EXPECT_EQ(value, 5);
}

TEST_F(XmlKeyStoreTest, ValueElementsIgnoreElementsThatCarryAKey)
{
    XmlNodeHandle root = LoadBody("<root><mode key=\"0\">4</mode></root>");
    int value = -1;
    EXPECT_FALSE(root.GetInt("mode", &value));
    EXPECT_TRUE(root.SetInt("mode", 6));
    EXPECT_TRUE(root.GetInt("mode", &value));
    EXPECT_EQ(value, 6);
    EXPECT_EQ(root.FindChild("mode", "0").Element()->GetText(), std::string("4"));
}

TEST_F(XmlKeyStoreTest, AnEmptyValueElementGainsAnEmptyTextOnRead)
{
    XmlNodeHandle root = LoadBody("<root><mode/></root>");
    int value = -1;
    EXPECT_TRUE(root.GetInt("mode", &value));
    EXPECT_EQ(value, 0);
    std::string text = "x";
    EXPECT_TRUE(root.GetString("mode", text));
    EXPECT_EQ(text, "");
    ASSERT_TRUE(m_store.Save());
    EXPECT_NE(ReadText(m_path).find("<mode></mode>"), std::string::npos);
}

TEST_F(XmlKeyStoreTest, AValueWhoseFirstChildIsNotTextIsNeitherReadNorWritten)
{
    XmlNodeHandle root = LoadBody("<root><mode><inner/>5</mode></root>");
    int value = -1;
    EXPECT_FALSE(root.GetInt("mode", &value));
    EXPECT_FALSE(root.SetInt("mode", 1));
    std::string text;
    EXPECT_FALSE(root.GetString("mode", text));
}

TEST_F(XmlKeyStoreTest, KeysCompareIgnoringTheCaseOfLettersOnly)
{
    XmlNodeHandle root = LoadBody("<root><led key=\"a\"><mode>1</mode></led><led key=\"00\"><mode>2</mode></led>"
                                  "<led><mode>3</mode></led></root>");
    int value = 0;
    EXPECT_TRUE(root.FindChild("LED", "A").GetInt("mode", &value));
    EXPECT_EQ(value, 1);
    EXPECT_TRUE(root.FindChild("led", "0").IsNull()) << "00 is not 0";
    EXPECT_TRUE(root.FindChild("led", "\xC4").IsNull());
    // Without a key FindChild takes the first child of the name, keyed or not ...
    EXPECT_TRUE(root.FindChild("led").GetInt("mode", &value));
    EXPECT_EQ(value, 1);
    // ... while FindOrCreateChild takes the first child without a key.
    EXPECT_TRUE(root.FindOrCreateChild("led").GetInt("mode", &value));
    EXPECT_EQ(value, 3);
}

TEST_F(XmlKeyStoreTest, FindOrCreateChildAppendsAKeyedEntryOnce)
{
    XmlNodeHandle root = LoadBody("<root><other/></root>");
    XmlNodeHandle created = root.FindOrCreateChild("External", "1");
    ASSERT_FALSE(created.IsNull());
    EXPECT_TRUE(created.SetInt("Mode", 2));
    EXPECT_EQ(root.FindOrCreateChild("external", "1").Element(), created.Element());
    EXPECT_EQ(root.Element()->LastChild(), created.Element());
    ASSERT_TRUE(m_store.Save());
    EXPECT_NE(ReadText(m_path).find("<external key=\"1\">"), std::string::npos);
    EXPECT_NE(ReadText(m_path).find("<mode>2</mode>"), std::string::npos);
}

TEST_F(XmlKeyStoreTest, ANullHandleAnswersNothing)
{
    XmlNodeHandle none;
    int value = 9;
    std::string text;
    std::wstring wide;
    EXPECT_TRUE(none.FindChild("a").IsNull());
    EXPECT_TRUE(none.FindOrCreateChild("a", "1").IsNull());
    EXPECT_FALSE(none.GetInt("a", &value));
    EXPECT_FALSE(none.SetInt("a", 1));
    EXPECT_FALSE(none.GetString("a", text));
    EXPECT_FALSE(none.GetWString(L"a", wide));
    EXPECT_EQ(value, 9);
}

TEST_F(XmlKeyStoreTest, GetWStringConvertsNameAndText)
{
    XmlNodeHandle root = LoadBody("<root><colorsequence>201</colorsequence></root>");
    std::wstring text;
    EXPECT_TRUE(root.GetWString(L"ColorSequence", text));
    EXPECT_EQ(text, L"201");
}

TEST_F(XmlKeyStoreTest, EmptyGarbageAndDeeplyNestedFilesAreReplacedWhenCreateIsAllowed)
{
    // Well-formed, but nested deeper than a worker thread's stack should have to parse.
    std::string nested = std::string(kDeclaration) + "<root>";
    for (int i = 0; i < 2000; ++i)
        nested += "<a>";
    for (int i = 0; i < 2000; ++i)
        nested += "</a>";
    nested += "</root>";
    // A processing instruction ends at its first '>' for the parser: whatever follows it is markup, and a
    // parser that recursed into all of it would overflow the stack.
    std::string deepAfterDeclaration = "<?xml version=\"1.0\"><root>";
    std::string deepAfterInstruction = std::string(kDeclaration) + "<root><?pi >";
    for (int i = 0; i < 100000; ++i) {
        deepAfterDeclaration += "<a>";
        deepAfterInstruction += "<a>";
    }
    // The parser's work grows with the square of one element's attributes.
    std::string manyAttributes = std::string(kDeclaration) + "<root";
    for (int i = 0; i < 20000; ++i)
        manyAttributes += " a" + std::to_string(i) + "=\"1\"";
    manyAttributes += "><a/></root>";
    for (const std::string& bad : {std::string(), std::string("not xml at all"), std::string("\x01\x02\xff"), nested,
                                   deepAfterDeclaration, deepAfterInstruction, manyAttributes}) {
        WriteText(m_path, bad);
        ASSERT_TRUE(m_store.Load(m_path, true));
        // Changed on purpose: a file with content is moved aside before the fresh one is written.
        EXPECT_EQ(m_store.LastLoad(),
                  bad.empty() ? XmlKeyStore::LoadResult::Created : XmlKeyStore::LoadResult::KeptAside);
        EXPECT_TRUE(m_store.Root().FindChild("a").IsNull());
        XmlKeyStore again;
        EXPECT_TRUE(again.Load(m_path, false)) << "the replacement must itself load";
        const auto aside = test::KeptAside(m_path);
        EXPECT_EQ(aside.size(), bad.empty() ? 0u : 1u);
        for (const auto& kept : aside) {
            EXPECT_EQ(ReadText(kept), bad);
            std::filesystem::remove(kept);
        }
    }
}

TEST_F(XmlKeyStoreTest, ADeepFileIsParsedOffTheCallersStack)
{
    // 4000 levels take the parser 0.9 MB of stack (1.6 MB with mingw-w64), far more than this caller has.
    std::string deep = std::string(kDeclaration) + "<root>";
    for (int i = 0; i < 4000; ++i)
        deep += "<a>";
    for (int i = 0; i < 4000; ++i)
        deep += "</a>";
    WriteText(m_path, deep + "</root>");
    bool loaded = true;
    ASSERT_TRUE(platform::RunOnThreadWithStack(128 * 1024, [&] { loaded = m_store.Load(m_path, false); }));
    EXPECT_FALSE(loaded);
    EXPECT_EQ(m_store.LastLoad(), XmlKeyStore::LoadResult::Refused) << "deeper than the store keeps";
}

TEST_F(XmlKeyStoreTest, AFolderAtThePathIsNeitherReadNorReplaced)
{
    std::filesystem::create_directory(m_path);
    EXPECT_FALSE(m_store.Load(m_path, true));
    EXPECT_EQ(m_store.LastLoad(), XmlKeyStore::LoadResult::Inaccessible);
    EXPECT_TRUE(std::filesystem::is_directory(m_path));
}

TEST_F(XmlKeyStoreTest, ReleaseDropsTheDocument)
{
    ASSERT_TRUE(m_store.Load(m_path, true));
    m_store.Release();
    EXPECT_FALSE(m_store.IsLoaded());
    EXPECT_TRUE(m_store.Root().IsNull());
    EXPECT_FALSE(m_store.Save());
}

TEST_F(XmlKeyStoreTest, SavedFilesLoadBackWithTheirValues)
{
    ASSERT_TRUE(m_store.Load(m_path, true));
    m_store.Root().SetInt("mode", -12);
    m_store.Root().FindOrCreateChild("led", "-1").SetInt("mode", 0xFF02);
    ASSERT_TRUE(m_store.Save());

    XmlKeyStore reread;
    ASSERT_TRUE(reread.Load(m_path, false));
    int mode = 0;
    int led = 0;
    EXPECT_TRUE(reread.Root().GetInt("mode", &mode));
    EXPECT_TRUE(reread.Root().FindChild("led", "-1").GetInt("mode", &led));
    EXPECT_EQ(mode, -12);
    EXPECT_EQ(led, 0xFF02);
}

} // namespace
} // namespace ovled
