// The Unix side of a Windows test under Wine: what a Windows program cannot see there (a file's mode
// bits, a symbolic link) is set and read through the Unix shell, which Wine starts for a Unix path.
#pragma once

#include "platform/win32/Unique.h"
#include "tests/support/TempFolder.h"
#include "tests/windows/support/Wait.h"

#include <windows.h>

#include <filesystem>
#include <string>

namespace ovled::test::wine {

inline bool Running()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The Unix path of a Windows path whose folder exists.
inline std::string UnixPath(const std::filesystem::path& path)
{
    using ToUnix = char*(CDECL*)(const wchar_t*);
    // Through void(*)(): FARPROC's own type would draw -Wcast-function-type.
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* folder = toUnix ? toUnix(path.parent_path().c_str()) : nullptr;
    if (!folder)
        return {};
    std::string unix = std::string(folder) + "/" + path.filename().string();
    HeapFree(GetProcessHeap(), 0, folder);
    return unix;
}

// Runs `command` with /bin/sh in `folder` (a Windows path) and waits until it has run. Paths in it go
// in single quotes. Wine signals a Unix program's process handle as soon as it has started it, and hands
// back no exit code: the command leaves a mark in the folder when done, and callers look at what it did.
inline bool Shell(const std::filesystem::path& folder, const std::string& command)
{
    const auto mark = folder / "unix-command-done";
    std::filesystem::remove(mark);
    const std::string line = command + "; : > '" + UnixPath(mark) + "'";
    std::wstring wide = L"/bin/sh -c \"" + std::wstring(line.begin(), line.end()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    const win32::UniqueHandle thread(process.hThread);
    const win32::UniqueHandle child(process.hProcess);
    const bool done = WaitUntil([&] { return std::filesystem::exists(mark); });
    std::filesystem::remove(mark);
    return done;
}

// The file's permission bits as stat prints them ("600"), or "" when they could not be read.
inline std::string Mode(const std::filesystem::path& path)
{
    const auto out = std::filesystem::path(path) += ".mode";
    Shell(path.parent_path(), "stat -c %a '" + UnixPath(path) + "' > '" + UnixPath(out) + "'");
    std::string mode = std::filesystem::exists(out) ? ReadText(out) : std::string();
    std::filesystem::remove(out);
    while (!mode.empty() && (mode.back() == '\n' || mode.back() == '\r'))
        mode.pop_back();
    return mode;
}

} // namespace ovled::test::wine
