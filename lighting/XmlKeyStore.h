// XmlKeyStore: the small keyed store under both settings files. One object per open file; it owns the
// parsed document. Files have one shape: a declaration, one root element, lower-case child names,
// entries told apart by a "key" attribute, every value the text of its own element.
// Not synchronised: the owner serialises access (LightingSettings and LedConfigFile hold a mutex).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

class TiXmlDocument;
class TiXmlElement;

namespace ovled {

// A nullable reference to one element of a store's document; not owned. Every failed lookup answers a
// null handle, and every operation on a null handle does nothing.
class XmlNodeHandle {
public:
    XmlNodeHandle() = default;
    explicit XmlNodeHandle(TiXmlElement* element) noexcept : m_element(element) {}

    bool IsNull() const noexcept { return m_element == nullptr; }
    TiXmlElement* Element() const noexcept { return m_element; }

    // First child named `name` (lower-cased); with a non-empty key, the first such child whose "key"
    // attribute equals it, ignoring the case of A-Z. Never creates.
    XmlNodeHandle FindChild(const char* name, const char* key = nullptr) const;
    // As FindChild, but without a key only a child that has no "key" attribute matches, and a missing
    // child is appended (with the key attribute when a key is given).
    XmlNodeHandle FindOrCreateChild(const char* name, const char* key = nullptr) const;

    // Value elements: the child named `name` without a "key" attribute; its first child must be text.
    bool GetInt(const char* name, int* out) const;
    bool SetInt(const char* name, int value) const;
    bool GetString(const char* name, std::string& out) const;
    bool GetWString(const wchar_t* name, std::wstring& out) const;

private:
    TiXmlElement* m_element = nullptr;
};

class XmlKeyStore {
public:
    // How the last Load ended. Every file that is there but cannot be used keeps its bytes: it stays in
    // place (Unusable, Inaccessible, Refused), or it is moved aside to a timestamped name (KeptAside).
    // Either is reported to the event log, a file kept in place once per reason.
    enum class LoadResult {
        None,         // nothing loaded yet, or released
        Loaded,       // an existing file was read
        Created,      // the file was missing or empty and a fresh one was written
        KeptAside,    // the file's content cannot be used: it was moved aside and a fresh one written
        Unusable,     // the file is XML but not in the store's shape (no declaration first, no root after it)
        Inaccessible, // the file exists but could not be read (locked, access denied, a read error, a link)
        Refused,      // the file's content cannot be used, and it stays (read-only, it could not be moved,
                      // or Load was not to create)
        Failed,       // the file was missing or empty (or moved aside) and no fresh one could be written
    };

    XmlKeyStore();
    ~XmlKeyStore();
    XmlKeyStore(const XmlKeyStore&) = delete;
    XmlKeyStore& operator=(const XmlKeyStore&) = delete;

    // Parses the file, or (when `create` is set and the file is missing or empty) writes a fresh one
    // holding a declaration and an empty "root" element. A file whose content cannot be used (not XML,
    // too large, a NUL character, beyond the parser's bounds) is moved aside first when `create` is
    // set. A file that exists but cannot be read is never replaced: its content is unknown, not absent.
    // A UTF-16 file with a byte-order mark is read; a save writes it as UTF-8. False leaves the store
    // empty.
    bool Load(const std::filesystem::path& path, bool create);
    // Starts a fresh document (declaration and empty "root") in memory only, bound to `path` for
    // later saves. Used when a file cannot be loaded but the owner must keep working.
    void CreateInMemory(const std::filesystem::path& path);
    // Writes the whole document back to its path, replacing the file in one step (never truncated).
    bool Save();
    void Release();

    XmlNodeHandle Root() const noexcept { return XmlNodeHandle(m_root); }
    bool IsLoaded() const noexcept { return m_document != nullptr; }
    LoadResult LastLoad() const noexcept { return m_lastLoad; }

private:
    bool SetAside(const std::wstring& why);
    bool KeepInPlace(LoadResult result, const std::wstring& why);
    bool WriteFresh(LoadResult result);

    std::unique_ptr<TiXmlDocument> m_document;
    TiXmlElement* m_root = nullptr;
    std::filesystem::path m_path;
    LoadResult m_lastLoad = LoadResult::None;
};

} // namespace ovled
