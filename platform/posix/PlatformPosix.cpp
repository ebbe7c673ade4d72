// Host (Linux) implementation of the platform seam, used by the portable core's native build.
#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/DebugOutput.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ovled::platform {

std::filesystem::path ExecutablePath()
{
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return exe;
}

std::filesystem::path ExecutableDirectory() { return ExecutablePath().parent_path(); }

std::wstring AnsiToWide(std::string_view text)
{
    std::wstring wide;
    wide.reserve(text.size());
    for (const char c : text)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

std::string WideToAnsi(std::wstring_view text)
{
    std::string narrow;
    narrow.reserve(text.size());
    for (const wchar_t c : text)
        narrow.push_back(static_cast<unsigned>(c) <= 0xFF ? static_cast<char>(c) : '?');
    return narrow;
}

void InitializeComForThread() noexcept {}

ComApartment::ComApartment(ApartmentKind) noexcept {}
ComApartment::~ComApartment() = default;

FineTimerResolution::FineTimerResolution() noexcept = default;
FineTimerResolution::~FineTimerResolution() = default;

UniqueFile OpenFileForRead(const std::filesystem::path& path)
{
    // O_NOFOLLOW refuses a link at the path itself; O_NONBLOCK keeps a FIFO put there from holding us up
    // (it is refused just below, as everything that is not a regular file).
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file)
        ::close(fd);
    return UniqueFile(file);
}

bool IsLink(const std::filesystem::path& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool IsReadOnlyFile(const std::filesystem::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    // The permission bits, not access(2): the service may run as root, which access() lets write anything.
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool ReplaceFileContents(const std::filesystem::path& path, const std::function<bool(std::FILE*)>& write)
{
    // The rename below would replace a link with a regular file: the link is somebody's, not ours.
    if (IsReadOnlyFile(path) || IsLink(path))
        return false;
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    // Appended piece by piece: GCC 12 at -O3 misreports `"." + string` as an overlapping copy.
    std::string hidden = ".";
    hidden += path.filename().string();
    hidden += ".XXXXXX";
    std::string temp = (folder / hidden).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;

    struct stat old {};
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    bool ok = write(file);
    ok = std::fflush(file) == 0 && ok;
    ok = ::fsync(fd) == 0 && ok;
    ok = ::fchmod(fd, mode) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    // Made read-only while the temporary file was written and flushed (which may take a while): a
    // rename is not refused by the file's own mode, so this is the last look. A mark made after it goes
    // with the old file: that file is held across the rename, and a mark it got then goes onto the new one
    // (a chmod that found the old file by name before the rename but changes it after this look is lost).
    const int replaced = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    ok = ok && !IsReadOnlyFile(path) && ::rename(temp.c_str(), path.c_str()) == 0;
    struct stat marked {};
    if (ok && replaced >= 0 && ::fstat(replaced, &marked) == 0 &&
        (marked.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        (void)::chmod(path.c_str(), marked.st_mode & 07777);
    if (replaced >= 0)
        ::close(replaced);
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

bool MoveAside(const std::filesystem::path& from, const std::filesystem::path& to)
{
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

namespace {

class StderrOutput final : public IDebugOutput {
public:
    void Write(std::wstring_view text) noexcept override
    {
        std::fprintf(stderr, "%.*ls", static_cast<int>(text.size()), text.data());
    }
};

} // namespace

IDebugOutput& DefaultDebugOutput() noexcept
{
    static StderrOutput output;
    return output;
}

} // namespace ovled::platform
