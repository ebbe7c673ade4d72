#include "lighting/XmlKeyStore.h"

#include "platform/FileIo.h"
#include "platform/Text.h"

#include <tinyxml.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace ovled {
namespace {

constexpr char kKeyAttribute[] = "key";

// Settings files are a few hundred bytes; anything far larger is not ours.
constexpr long kMaxFileBytes = 4L * 1024 * 1024;
// TinyXML parses nested elements recursively (230 bytes of stack a level with g++ on Linux, 400 with
// mingw-w64): a hostile file must not be able to exhaust the stack of the thread that loads it (1 MiB
// for the power window thread and COM's threads). Our files hold a few dozen elements; this many, even
// all nested, use a fifth of that.
constexpr size_t kMaxElements = 512;
// TinyXML checks each new attribute against the element's earlier ones, one by one: parsing time grows
// with the square of an element's attributes (80 000 of them, 650 KB, take 16 s). Our files hold a
// dozen; this many parse in a millisecond.
constexpr size_t kMaxAttributes = 1024;
// Terminators after the text: more than the longest UTF-8 sequence TinyXML may step over.
constexpr size_t kParserSlack = 8;

std::string LowerCase(const char* name)
{
    std::string lower = name ? name : "";
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

char FoldAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Keys compare equal ignoring the case of A-Z only.
bool KeysEqual(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        if (FoldAsciiLetter(*a) != FoldAsciiLetter(*b))
            return false;
    }
    return *a == *b;
}

bool HasKey(const char* key)
{
    return key && *key;
}

// The first child element of `parent` named `name`, without a "key" attribute; optionally created.
TiXmlElement* ValueElement(TiXmlElement* parent, const char* name, bool create)
{
    if (!parent)
        return nullptr;
    const std::string lower = LowerCase(name);
    for (TiXmlNode* node = parent->FirstChild(lower.c_str()); node; node = node->NextSibling(lower.c_str())) {
        TiXmlElement* element = node->ToElement();
        if (element && !element->Attribute(kKeyAttribute))
            return element;
    }
    if (!create)
        return nullptr;
    return parent->LinkEndChild(new TiXmlElement(lower.c_str()))->ToElement();
}

// The value's text node. An element without any child receives an empty text child first (also on a
// read), so that a later save writes it as an empty element pair.
TiXmlText* ValueText(TiXmlElement* element)
{
    if (!element)
        return nullptr;
    if (!element->FirstChild())
        element->LinkEndChild(new TiXmlText(""));
    TiXmlNode* first = element->FirstChild();
    return first ? first->ToText() : nullptr;
}

// strtol(text, NULL, 0), clamped to int: on Windows long is 32 bits, so the limits are INT_MIN/INT_MAX.
int ParseInt(const char* text)
{
    errno = 0;
    const long value = std::strtol(text ? text : "", nullptr, 0);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// Whether `text` may hold more than kMaxElements elements or kMaxAttributes attributes. The parser opens
// every element at a '<' of its own that is followed by a name character (never '/', '!' or '?'), and
// recurses once per open element; every attribute it keeps has an '=' of its own. Counting such places
// bounds its depth and its attribute work whatever it makes of the rest of the text: a processing
// instruction that ends at its first '>', an entity that runs past quotes and tags, a UTF-8 lead byte
// that swallows the next characters. A scan that tried to follow the markup could be led to disagree
// with the parser; these counts cannot.
bool MayBeTooMuchForTheParser(const std::string& text)
{
    size_t elements = 0;
    for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        const char next = at + 1 < text.size() ? text[at + 1] : '\0';
        if (next != '/' && next != '!' && next != '?' && ++elements > kMaxElements)
            return true;
    }
    size_t equalsSigns = 0;
    for (size_t at = text.find('='); at != std::string::npos; at = text.find('=', at + 1)) {
        if (++equalsSigns > kMaxAttributes)
            return true;
    }
    return false;
}

enum class ReadOutcome {
    Parsed,
    NotXml,     // read, but empty, too large or not XML
    Missing,    // nothing at the path
    Unreadable, // something is there that could not be read
};

// Reads and parses the file the way TinyXML's LoadFile does (line ends normalised to LF first), after
// the size and element-count checks.
ReadOutcome ReadDocument(const std::filesystem::path& path, TiXmlDocument& document)
{
    platform::UniqueFile file = platform::OpenFileForRead(path);
    if (!file) {
        std::error_code error;
        const bool missing = std::filesystem::status(path, error).type() == std::filesystem::file_type::not_found;
        return missing ? ReadOutcome::Missing : ReadOutcome::Unreadable;
    }
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return ReadOutcome::Unreadable;
    const long length = std::ftell(file.get());
    if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return ReadOutcome::Unreadable;
    if (length == 0 || length > kMaxFileBytes)
        return ReadOutcome::NotXml;

    std::string raw(static_cast<size_t>(length), '\0');
    if (std::fread(raw.data(), 1, raw.size(), file.get()) != raw.size())
        return ReadOutcome::Unreadable;
    raw.resize(std::strlen(raw.c_str())); // TinyXML stops at the first NUL as well

    std::string text;
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r') {
            text.push_back('\n');
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
        } else {
            text.push_back(raw[i]);
        }
    }
    if (MayBeTooMuchForTheParser(text))
        return ReadOutcome::NotXml;

    // TinyXML steps over a whole UTF-8 sequence at once, also when the text ends inside one (a file
    // cut after a lead byte), and then reads on past the terminator. A few more terminators after the
    // text keep every such step inside our buffer; the parser sees the same text.
    text.append(kParserSlack, '\0');
    document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    return document.Error() ? ReadOutcome::NotXml : ReadOutcome::Parsed;
}

void FillFresh(TiXmlDocument& document)
{
    document.Clear();
    document.LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", "no"));
    document.LinkEndChild(new TiXmlElement("root"));
}

// The root: the first node must be the declaration, the node right after it an element.
TiXmlElement* FindRoot(TiXmlDocument& document)
{
    TiXmlNode* first = document.FirstChild();
    if (!first || !first->ToDeclaration())
        return nullptr;
    TiXmlNode* second = first->NextSibling();
    return second ? second->ToElement() : nullptr;
}

} // namespace

XmlNodeHandle XmlNodeHandle::FindChild(const char* name, const char* key) const
{
    if (!m_element)
        return {};
    const std::string lower = LowerCase(name);
    for (TiXmlNode* node = m_element->FirstChild(lower.c_str()); node; node = node->NextSibling(lower.c_str())) {
        TiXmlElement* element = node->ToElement();
        if (!element)
            continue;
        if (!HasKey(key))
            return XmlNodeHandle(element);
        const char* attribute = element->Attribute(kKeyAttribute);
        if (attribute && KeysEqual(attribute, key))
            return XmlNodeHandle(element);
    }
    return {};
}

XmlNodeHandle XmlNodeHandle::FindOrCreateChild(const char* name, const char* key) const
{
    if (!m_element)
        return {};
    const std::string lower = LowerCase(name);
    for (TiXmlNode* node = m_element->FirstChild(lower.c_str()); node; node = node->NextSibling(lower.c_str())) {
        TiXmlElement* element = node->ToElement();
        if (!element)
            continue;
        const char* attribute = element->Attribute(kKeyAttribute);
        if (HasKey(key) ? (attribute && KeysEqual(attribute, key)) : !attribute)
            return XmlNodeHandle(element);
    }
    auto* created = new TiXmlElement(lower.c_str());
    if (HasKey(key))
        created->SetAttribute(kKeyAttribute, key);
    return XmlNodeHandle(m_element->LinkEndChild(created)->ToElement());
}

bool XmlNodeHandle::GetInt(const char* name, int* out) const
{
    const TiXmlText* text = ValueText(ValueElement(m_element, name, false));
    if (!text)
        return false;
    if (out)
        *out = ParseInt(text->Value());
    return true;
}

bool XmlNodeHandle::SetInt(const char* name, int value) const
{
    TiXmlText* text = ValueText(ValueElement(m_element, name, true));
    if (!text)
        return false;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", value);
    text->SetValue(buffer);
    return true;
}

bool XmlNodeHandle::GetString(const char* name, std::string& out) const
{
    const TiXmlText* text = ValueText(ValueElement(m_element, name, false));
    if (!text)
        return false;
    out = text->Value();
    return true;
}

bool XmlNodeHandle::GetWString(const wchar_t* name, std::wstring& out) const
{
    std::string narrow;
    if (!GetString(platform::WideToAnsi(name ? name : L"").c_str(), narrow))
        return false;
    out = platform::AnsiToWide(narrow);
    return true;
}

XmlKeyStore::XmlKeyStore() = default;
XmlKeyStore::~XmlKeyStore() = default;

bool XmlKeyStore::Load(const std::filesystem::path& path, bool create)
{
    Release();
    auto document = std::make_unique<TiXmlDocument>();
    m_path = path;

    const ReadOutcome outcome = ReadDocument(path, *document);
    if (outcome == ReadOutcome::Unreadable) {
        m_lastLoad = LoadResult::Inaccessible;
        return false;
    }
    if (outcome == ReadOutcome::Parsed) {
        TiXmlElement* root = FindRoot(*document);
        if (!root) {
            m_lastLoad = LoadResult::Unusable;
            return false;
        }
        m_document = std::move(document);
        m_root = root;
        m_lastLoad = LoadResult::Loaded;
        return true;
    }
    if (!create) {
        m_lastLoad = LoadResult::Failed;
        return false;
    }
    FillFresh(*document);
    m_document = std::move(document);
    m_root = FindRoot(*m_document);
    if (!Save()) {
        Release();
        m_lastLoad = LoadResult::Failed;
        return false;
    }
    m_lastLoad = LoadResult::Created;
    return true;
}

void XmlKeyStore::CreateInMemory(const std::filesystem::path& path)
{
    const LoadResult last = m_lastLoad;
    Release();
    m_document = std::make_unique<TiXmlDocument>();
    FillFresh(*m_document);
    m_root = FindRoot(*m_document);
    m_path = path;
    m_lastLoad = last;
}

bool XmlKeyStore::Save()
{
    if (!m_document)
        return false;
    return platform::ReplaceFileContents(m_path, [this](std::FILE* file) { return m_document->SaveFile(file); });
}

void XmlKeyStore::Release()
{
    m_root = nullptr;
    m_document.reset();
    m_lastLoad = LoadResult::None;
}

} // namespace ovled
