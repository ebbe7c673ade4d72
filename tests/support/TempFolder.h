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

std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, const std::string& text);
void MakeReadOnly(const std::filesystem::path& path, bool readOnly);

} // namespace ovled::test
