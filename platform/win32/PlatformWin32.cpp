// Windows implementation of the platform seam.
#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/DebugOutput.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/win32/SystemLibrary.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <io.h>
#include <objbase.h>
#include <string>
#include <vector>

namespace ovled::platform {

std::filesystem::path ExecutablePath()
{
    // Wide and without the 260-character limit: an install folder outside the ANSI code page, or a
    // long one, still finds its files.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::filesystem::path ExecutableDirectory() { return ExecutablePath().parent_path(); }

std::wstring AnsiToWide(std::string_view text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string WideToAnsi(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

void InitializeComForThread() noexcept
{
    // Never balanced: the firmware bridge needs COM on every thread that reaches it, for its whole life.
    (void)CoInitialize(nullptr);
}

// S_FALSE (already initialised in this mode) counts too and is balanced as well; a thread already in
// another apartment keeps it, and nothing is undone.
ComApartment::ComApartment(ApartmentKind kind) noexcept
    : m_initialized(SUCCEEDED(CoInitializeEx(
          nullptr, kind == ApartmentKind::MultiThreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED)))
{
}

ComApartment::~ComApartment()
{
    if (m_initialized)
        CoUninitialize();
}

namespace {

// winmm.dll's timeBeginPeriod and timeEndPeriod, from System32 (platform/win32/SystemLibrary.h).
using TimerPeriodFunction = UINT(WINAPI*)(UINT);
constexpr UINT kTimerNoError = 0; // TIMERR_NOERROR

TimerPeriodFunction TimerPeriod(const char* name) noexcept
{
    return win32::SystemFunction<TimerPeriodFunction>(L"winmm.dll", name);
}

} // namespace

FineTimerResolution::FineTimerResolution() noexcept
{
    static const TimerPeriodFunction begin = TimerPeriod("timeBeginPeriod");
    m_granted = begin && begin(1) == kTimerNoError;
}

FineTimerResolution::~FineTimerResolution()
{
    static const TimerPeriodFunction end = TimerPeriod("timeEndPeriod");
    if (m_granted && end)
        end(1);
}

UniqueFile OpenFileForRead(const std::filesystem::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    return UniqueFile(_wfopen(path.c_str(), L"rb"));
}

bool IsReadOnlyFile(const std::filesystem::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

namespace {

// Attributes that belong to the file rather than to its content.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Gives the temporary file the DACL of the file it is to replace, as it stands there (its inherited
// entries and protection included), and its attributes. Best effort: what cannot be read or set is
// left as it was.
void TakeOverSecurityAndAttributes(const std::filesystem::path& from, const std::filesystem::path& to)
{
    // Attributes first: the DACL that follows may no longer let us change them.
    const DWORD attributes = GetFileAttributesW(from.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        (void)SetFileAttributesW(to.c_str(), attributes & kKeptAttributes);
    DWORD size = 0;
    (void)GetFileSecurityW(from.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size);
    if (size > 0 && GetFileSecurityW(from.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size, &size))
        (void)SetFileSecurityW(to.c_str(), DACL_SECURITY_INFORMATION, descriptor.data());
}

bool Exists(const std::filesystem::path& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Puts the written temporary file in place of `path` in one step, keeping what belongs to the file:
// an installer's grant to users, the hidden or system attribute. A rename alone would leave the new
// file with the temporary file's inherited ACL and owner. ReplaceFileW keeps the replaced file's
// security and attributes on Windows (and its owner and streams), while Wine's only renames, so the
// DACL and attributes go onto the temporary file first. A missing file (the first save) is moved into
// place.
bool MoveOver(const std::filesystem::path& temp, const std::filesystem::path& path)
{
    if (!Exists(path))
        return MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
    TakeOverSecurityAndAttributes(path, temp);
    if (ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return true;
    // Most failures leave the old file as it was. Some leave nothing at the path: a file deleted since it
    // was looked at, and, without a backup name, a replacement that could not be moved after the old file
    // had been moved away (ERROR_UNABLE_TO_MOVE_REPLACEMENT and _2). The new content then goes there.
    return !Exists(path) && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

} // namespace

bool ReplaceFileContents(const std::filesystem::path& path, const std::function<bool(std::FILE*)>& write)
{
    if (IsReadOnlyFile(path))
        return false;
    static std::atomic<unsigned> counter{0};
    auto temp = path;
    temp += L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);

    std::FILE* file = _wfopen(temp.c_str(), L"wb");
    if (!file)
        return false;
    bool ok = write(file);
    ok = std::fflush(file) == 0 && ok;
    ok = _commit(_fileno(file)) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    // Made read-only while the temporary file was written and flushed (which may take a while): Windows
    // would refuse the replace, Wine does not, so this is the last look.
    ok = ok && !IsReadOnlyFile(path);
    if (ok && MoveOver(temp, path))
        return true;
    // A whole temporary file that could not be moved onto an empty path is the only copy of the
    // settings: it stays.
    if (!ok || Exists(path))
        DeleteFileW(temp.c_str());
    return false;
}

namespace {

class OutputDebugStringOutput final : public IDebugOutput {
public:
    void Write(std::wstring_view text) noexcept override
    {
        try {
            OutputDebugStringW(std::wstring(text).c_str());
        } catch (...) {
        }
    }
};

} // namespace

IDebugOutput& DefaultDebugOutput() noexcept
{
    static OutputDebugStringOutput output;
    return output;
}

} // namespace ovled::platform
