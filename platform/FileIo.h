// File access for the settings files: opening by a path that may hold characters outside the ANSI
// code page (wide on Windows), and whole-file replacement that never leaves a truncated file behind.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

namespace ovled::platform {

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file; null for folders, missing files and every failure.
UniqueFile OpenFileForRead(const std::filesystem::path& path);

// True when `path` names an existing file marked read-only (no write permission bit on POSIX, the
// read-only attribute on Windows). The service never replaces such a file.
bool IsReadOnlyFile(const std::filesystem::path& path);

// Writes a whole file: `write` fills a temporary file in the same folder, which is flushed to disk and
// then replaces `path` in one step. Returns false (and leaves `path` untouched) when the folder cannot
// be written, `path` is read-only, `write` returns false, or any step fails.
bool ReplaceFileContents(const std::filesystem::path& path, const std::function<bool(std::FILE*)>& write);

} // namespace ovled::platform
