#include "lighting/XmlKeyStore.h"

#include "platform/EventIds.h"
#include "platform/EventLog.h"
#include "platform/FileIo.h"
#include "platform/StackThread.h"
#include "platform/Text.h"

#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace ovled {
namespace {

constexpr char kKeyAttribute[] = "key";

// Settings files are a few hundred bytes; anything far larger is not ours.
constexpr long kMaxFileBytes = 4L * 1024 * 1024;
// TinyXML parses nested elements recursively: a level costs it 224 bytes of stack with g++ on Linux and
// 400 with mingw-w64, 415 where TinyXML itself is built with AddressSanitizer (the fuzz build). So it parses
// on a thread of its own whose stack is reserved for as many levels as the file has places where an
// element may start (every '<' followed by anything but '/', '!' or '?': each element the parser opens
// starts at such a place of its own, however it reads the rest of the text), at a cost a level above
// any of those; only the pages it touches are committed. Each new element also looks for its document
// through all its parents, so the parser's time grows with the square of the nesting (8000 levels take
// 0.7 s): a file with more such places than this is refused, far beyond any settings file (ours hold a
// few dozen elements) and parsed in 0.2 s at worst.
constexpr std::size_t kMaxElementStarts = 4096;
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kStackPerLevel = 4096;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::size_t kStackPerLevel = 4096;
#else
constexpr std::size_t kStackPerLevel = 1024;
#endif
#else
constexpr std::size_t kStackPerLevel = 1024;
#endif
// The parser's own frames, ours and the C library's below the first level.
constexpr std::size_t kStackBase = 256 * 1024;
// A document that nests deeper than this is refused once parsed (on the parser's thread, where its
// destruction, recursive as well, has room): kept, it would be destroyed and printed on the callers'
// threads, which have 1 MiB. Our files nest three levels.
constexpr std::size_t kMaxDepth = 256;
// TinyXML checks each new attribute against the element's earlier ones by name (std::string ==, which
// compares names of one length byte by byte): its work grows with the square of an element's attributes
// (one element of 80 000, 650 KB, took 16 s) and with the length of their names. Every attribute it keeps
// has an '=' of its own right after its name (white space between them allowed), and its name is at
// most the run of name characters before that. Counting only such '=' and the longest such run bounds
// that work (a banner of '=' or text that uses them counts for next to nothing): more attributes than
// this, or a bound on the bytes compared above the second, is refused. Our files hold a dozen
// attributes with names of three letters.
constexpr std::size_t kMaxAttributes = 2048;
constexpr std::size_t kMaxAttributeWork = std::size_t{1} << 29;
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

// The places where the parser may open an element, each followed by a level of its recursion.
std::size_t ElementStarts(const std::string& text)
{
    std::size_t starts = 0;
    for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        const char next = at + 1 < text.size() ? text[at + 1] : '\0';
        if (next != '/' && next != '!' && next != '?')
            ++starts;
    }
    return starts;
}

// TinyXML's name characters (its IsAlphaNum takes every byte from 127 up as one).
bool IsNameCharacter(unsigned char c)
{
    return c >= 127 || std::isalnum(c) || c == '_' || c == '-' || c == '.' || c == ':';
}

// The '=' that may end an attribute's name (the last byte before it, white space aside, is a name
// character), and the longest run of name characters before one. Local, so no markup (a comment, an
// instruction, a quote) can hide one from the count.
struct AttributeBound {
    std::size_t count = 0;
    std::size_t longestName = 0;
};

AttributeBound AttributeEqualsSigns(const std::string& text)
{
    AttributeBound bound;
    for (size_t at = text.find('='); at != std::string::npos; at = text.find('=', at + 1)) {
        size_t end = at;
        while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])))
            --end;
        size_t start = end;
        while (start > 0 && IsNameCharacter(static_cast<unsigned char>(text[start - 1])))
            --start;
        if (start < end) {
            ++bound.count;
            bound.longestName = std::max(bound.longestName, end - start);
        }
    }
    return bound;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The UTF-16 text after a byte-order mark, as UTF-8. False for an odd length or a lone surrogate.
bool Utf16ToUtf8(const std::string& raw, bool bigEndian, std::string& out)
{
    if (raw.size() % 2 != 0)
        return false;
    const auto unit = [&](size_t i) {
        const auto first = static_cast<unsigned char>(raw[i]);
        const auto second = static_cast<unsigned char>(raw[i + 1]);
        return static_cast<char32_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    };
    out.clear();
    out.reserve(raw.size());
    for (size_t i = 2; i < raw.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 3 >= raw.size())
                return false;
            const char32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        AppendUtf8(out, c);
    }
    return true;
}

// How deep the document's nodes nest, counted without recursion.
std::size_t NestingDepth(const TiXmlNode& document)
{
    std::size_t depth = 1;
    std::size_t deepest = 0;
    const TiXmlNode* node = document.FirstChild();
    while (node) {
        deepest = std::max(deepest, depth);
        if (const TiXmlNode* child = node->FirstChild()) {
            node = child;
            ++depth;
            continue;
        }
        while (node != &document && !node->NextSibling()) {
            node = node->Parent();
            --depth;
        }
        node = node == &document ? nullptr : node->NextSibling();
    }
    return deepest;
}

std::wstring Number(std::size_t value)
{
    return std::to_wstring(value);
}

// What reading a settings file came to.
struct Reading {
    enum class Outcome {
        Parsed,
        Empty,      // there, but without a byte: nothing to keep
        Missing,    // nothing at the path
        Unreadable, // something is there that could not be read: its content is unknown
        Refused,    // read, but its content cannot be used (the reason says why)
    };
    Outcome outcome = Outcome::Refused;
    std::wstring why;
    std::unique_ptr<TiXmlDocument> document;
};

Reading Refused(std::wstring why)
{
    return {Reading::Outcome::Refused, std::move(why), nullptr};
}

// Parses `text` on a thread whose stack has room for every level the parser can reach in it, and
// refuses a document that does not parse or nests too deep; such a document is destroyed on that
// thread too.
Reading ParseBounded(const std::string& text, TiXmlEncoding encoding)
{
    const std::size_t starts = ElementStarts(text);
    if (starts > kMaxElementStarts)
        return Refused(L"it may hold more than " + Number(kMaxElementStarts) + L" elements");
    const AttributeBound attributes = AttributeEqualsSigns(text);
    if (attributes.count > kMaxAttributes)
        return Refused(L"it may hold more than " + Number(kMaxAttributes) + L" attributes");
    // Pairs of attributes times the bytes of a comparison: the count is at most kMaxAttributes here, so
    // the product cannot overflow before the name's length is capped.
    const std::size_t pairs = attributes.count * attributes.count / 2;
    if (pairs * std::min(attributes.longestName, kMaxAttributeWork) > kMaxAttributeWork)
        return Refused(L"its " + Number(attributes.count) + L" attributes, with names of up to " +
                       Number(attributes.longestName) + L" characters, would take too long to check");

    Reading reading;
    auto document = std::make_unique<TiXmlDocument>();
    const bool ran = platform::RunOnThreadWithStack(kStackBase + starts * kStackPerLevel, [&] {
        try {
            document->Parse(text.c_str(), nullptr, encoding);
            if (document->Error()) {
                reading = Refused(L"it is not XML: " + platform::AnsiToWide(document->ErrorDesc()) + L" (line " +
                                  std::to_wstring(document->ErrorRow()) + L", column " +
                                  std::to_wstring(document->ErrorCol()) + L")");
                document.reset();
            } else if (NestingDepth(*document) > kMaxDepth) {
                reading = Refused(L"its elements nest deeper than " + Number(kMaxDepth) + L" levels");
                document.reset();
            }
        } catch (...) {
            document.reset(); // a half-built tree is as deep as the text made it
            throw;
        }
    });
    if (!ran)
        return {Reading::Outcome::Unreadable, L"no thread could be started to read it", nullptr};
    if (document)
        reading = {Reading::Outcome::Parsed, {}, std::move(document)};
    return reading;
}

// A file read from UTF-16 is saved as UTF-8: its declaration must say so, or the next read would take the
// UTF-8 for the encoding the declaration names.
void SayUtf8(TiXmlDocument& document)
{
    TiXmlNode* first = document.FirstChild();
    const TiXmlDeclaration* declaration = first ? first->ToDeclaration() : nullptr;
    if (!declaration || !*declaration->Encoding())
        return;
    const TiXmlDeclaration utf8(declaration->Version(), "UTF-8", declaration->Standalone());
    document.ReplaceChild(first, utf8);
}

// Reads and parses the file the way TinyXML's LoadFile does (line ends normalised to LF first), after
// the checks that keep the parser safe; a UTF-16 file with a byte-order mark is read as its UTF-8 text.
Reading ReadDocument(const std::filesystem::path& path)
{
    if (platform::IsLink(path))
        return {Reading::Outcome::Unreadable, L"it is a symbolic link or another reparse point, which is not followed",
                nullptr};
    platform::UniqueFile file = platform::OpenFileForRead(path);
    if (!file) {
        std::error_code error;
        const bool missing = std::filesystem::status(path, error).type() == std::filesystem::file_type::not_found;
        return {missing ? Reading::Outcome::Missing : Reading::Outcome::Unreadable, L"it could not be read", nullptr};
    }
    const auto unreadable = [] { return Reading{Reading::Outcome::Unreadable, L"it could not be read", nullptr}; };
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return unreadable();
    const long length = std::ftell(file.get());
    if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return unreadable();
    if (length == 0)
        return {Reading::Outcome::Empty, {}, nullptr};
    if (length > kMaxFileBytes)
        return Refused(L"it is larger than 4 MiB");

    std::string raw(static_cast<size_t>(length), '\0');
    if (std::fread(raw.data(), 1, raw.size(), file.get()) != raw.size())
        return unreadable();

    // Notepad's "Unicode" and PowerShell 5's Out-File write UTF-16 with a byte-order mark. Its text goes
    // to the parser as UTF-8, which is what a save then writes.
    TiXmlEncoding encoding = TIXML_DEFAULT_ENCODING;
    const bool littleEndian = raw.size() >= 2 && raw[0] == '\xFF' && raw[1] == '\xFE';
    const bool bigEndian = raw.size() >= 2 && raw[0] == '\xFE' && raw[1] == '\xFF';
    if (littleEndian || bigEndian) {
        std::string utf8;
        if (!Utf16ToUtf8(raw, bigEndian, utf8))
            return Refused(L"it begins as UTF-16 but is not");
        raw = std::move(utf8);
        encoding = TIXML_ENCODING_UTF8;
    }
    // TinyXML stops at the first NUL: what follows it would be lost by the next save.
    if (raw.find('\0') != std::string::npos)
        return Refused(L"it holds a NUL character");

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
    // TinyXML steps over a whole UTF-8 sequence at once, also when the text ends inside one (a file
    // cut after a lead byte), and then reads on past the terminator. A few more terminators after the
    // text keep every such step inside our buffer; the parser sees the same text.
    text.append(kParserSlack, '\0');
    Reading reading = ParseBounded(text, encoding);
    if (reading.document && encoding == TIXML_ENCODING_UTF8)
        SayUtf8(*reading.document);
    return reading;
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

// A path as the event log shows it.
std::wstring DisplayName(const std::filesystem::path& path)
{
    try {
        return path.wstring();
    } catch (...) {
        return platform::AnsiToWide(path.string()); // a name that is not valid in the locale's encoding
    }
}

// The files reported as kept in place, each with its reason. lightingControl.xml is read on every
// operation: its event is written once per file and reason, and again only after the file was used.
class KeptInPlaceReports {
public:
    static void Report(const std::filesystem::path& path, const std::wstring& why)
    {
        {
            std::lock_guard lock(Mutex());
            auto [entry, added] = Reported().try_emplace(path, why);
            if (!added && entry->second == why)
                return;
            entry->second = why;
        }
        const std::wstring inserts[] = {DisplayName(path), why};
        platform::EventLog().Report(events::kSettingsKeptInPlace, inserts);
    }

    static void Forget(const std::filesystem::path& path)
    {
        std::lock_guard lock(Mutex());
        Reported().erase(path);
    }

private:
    static std::mutex& Mutex()
    {
        static std::mutex mutex;
        return mutex;
    }
    static std::map<std::filesystem::path, std::wstring>& Reported()
    {
        static std::map<std::filesystem::path, std::wstring> reported;
        return reported;
    }
};

// UTC, so that names sort in the order they were made whatever the time zone did in between.
std::string Timestamp()
{
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date(day);
    const hh_mm_ss time(now - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02u%02uT%02d%02d%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

// Moves the file to "<name>.unusable-<UTC time>.<extension>" beside it ("-2", "-3", ... after the time
// when that is taken). The new name, or an empty path when the file could not be moved.
std::filesystem::path MoveAsideWithTimestamp(const std::filesystem::path& path)
{
    const std::string stamp = Timestamp();
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::filesystem::path name = path.stem();
        name += ".unusable-" + stamp + (attempt > 1 ? "-" + std::to_string(attempt) : std::string());
        name += path.extension();
        const std::filesystem::path aside = path.parent_path() / name;
        if (platform::MoveAside(path, aside))
            return aside;
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::symlink_status(aside, error)))
            return {}; // the move failed for another reason than the name
    }
    return {};
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
    m_path = path;

    Reading reading = ReadDocument(path);
    switch (reading.outcome) {
    case Reading::Outcome::Parsed:
        if (TiXmlElement* root = FindRoot(*reading.document)) {
            m_document = std::move(reading.document);
            m_root = root;
            m_lastLoad = LoadResult::Loaded;
            KeptInPlaceReports::Forget(path);
            return true;
        }
        // XML of another shape may be someone's hand edit: it stays as it is.
        return KeepInPlace(LoadResult::Unusable, L"it is XML, but not a declaration followed by one root element");
    case Reading::Outcome::Unreadable:
        return KeepInPlace(LoadResult::Inaccessible, reading.why);
    case Reading::Outcome::Missing:
    case Reading::Outcome::Empty:
        if (!create) {
            m_lastLoad = LoadResult::Failed;
            return false;
        }
        KeptInPlaceReports::Forget(path);
        return WriteFresh(LoadResult::Created);
    case Reading::Outcome::Refused:
        if (!create) {
            m_lastLoad = LoadResult::Refused;
            return false;
        }
        return SetAside(reading.why);
    }
    return false;
}

// A file whose content cannot be used goes to a name of its own beside it, and a fresh one takes its
// place: its bytes stay for whoever wants them back, and the settings are saved again. A read-only
// file is never moved (nothing of ours replaces it), nor is one that cannot be; both stay in place.
bool XmlKeyStore::SetAside(const std::wstring& why)
{
    if (platform::IsReadOnlyFile(m_path))
        return KeepInPlace(LoadResult::Refused, why);
    const std::filesystem::path aside = MoveAsideWithTimestamp(m_path);
    if (aside.empty())
        return KeepInPlace(LoadResult::Refused, why);
    if (!WriteFresh(LoadResult::KeptAside)) {
        // No fresh file could be written after all: the old one goes back, so that the path is never left
        // empty while its bytes are elsewhere.
        if (platform::MoveAside(aside, m_path))
            return KeepInPlace(LoadResult::Refused, why);
    }
    KeptInPlaceReports::Forget(m_path);
    const std::wstring inserts[] = {DisplayName(m_path), why, DisplayName(aside)};
    platform::EventLog().Report(events::kSettingsKeptAside, inserts);
    return IsLoaded();
}

bool XmlKeyStore::KeepInPlace(LoadResult result, const std::wstring& why)
{
    m_lastLoad = result;
    KeptInPlaceReports::Report(m_path, why);
    return false;
}

bool XmlKeyStore::WriteFresh(LoadResult result)
{
    m_document = std::make_unique<TiXmlDocument>();
    FillFresh(*m_document);
    m_root = FindRoot(*m_document);
    if (!Save()) {
        Release();
        m_lastLoad = LoadResult::Failed;
        return false;
    }
    m_lastLoad = result;
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
