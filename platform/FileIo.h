// File access for the settings files: opening by a path that may hold characters outside the ANSI
// code page (wide on Windows), whole-file replacement that never leaves a truncated file behind, and
// moving a file aside. None of them follows a symbolic link (or another reparse point) at the path: the
// service runs as LocalSystem (root), and a link could lead it to read or replace a file it was never
// meant to touch.
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

// Opens a regular file; null for folders, links, missing files and every failure.
UniqueFile OpenFileForRead(const std::filesystem::path& path);

// True when `path` itself is a symbolic link or another reparse point (a junction, a mount point). Wine
// shows a Unix symbolic link as the file it leads to, so there this is false for them.
bool IsLink(const std::filesystem::path& path);

// True when `path` names an existing file marked read-only (no write permission bit on POSIX, the
// read-only attribute on Windows). The service never replaces such a file.
bool IsReadOnlyFile(const std::filesystem::path& path);

// Writes a whole file: `write` fills a temporary file in the same folder, which is flushed to disk and
// then replaces `path` in one step, keeping who may read and write it. Returns false (and leaves `path`
// untouched) when the folder cannot be written, `path` is read-only or a link, `write` returns false, or
// any step fails.
bool ReplaceFileContents(const std::filesystem::path& path, const std::function<bool(std::FILE*)>& write);

// Renames `from` to `to` in the same folder, never replacing what is at `to` and never following a link
// at `from` (a link is moved as it is). False when `to` exists or the rename fails.
bool MoveAside(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace ovled::platform
