// Where the service finds its files: the folder of the running executable.
// Portable interface; the posix/ and win32/ implementations answer for the running process.
#pragma once

#include <filesystem>

namespace ovled::platform {

// Full path of the running executable, or an empty path when it cannot be obtained. Not limited to
// MAX_PATH characters.
std::filesystem::path ExecutablePath();

// Folder of the running executable, or an empty path when the executable's path cannot be obtained
// (callers then fall back to a bare file name, relative to the current folder).
std::filesystem::path ExecutableDirectory();

} // namespace ovled::platform
