// A fresh, empty folder per test, removed with everything in it (read-only files included).
#pragma once

#include <filesystem>
#include <string>

namespace ovled::test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const noexcept { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Keeps an existing file from being read for the life of the object, as a program that holds it open
// without sharing read access does. On Windows it is such an open (replacing or deleting the file
// stays allowed); on the host, where root reads whatever the permissions say, the file is moved aside
// and a folder stands at its path until the object goes.
class ReadingDenied {
public:
    explicit ReadingDenied(std::filesystem::path path);
    ~ReadingDenied();
    ReadingDenied(const ReadingDenied&) = delete;
    ReadingDenied& operator=(const ReadingDenied&) = delete;

private:
    std::filesystem::path m_path;
    void* m_handle = nullptr;
};

std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, const std::string& text);
void MakeReadOnly(const std::filesystem::path& path, bool readOnly);

} // namespace ovled::test
