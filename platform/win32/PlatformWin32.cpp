// Windows implementation of the platform seam.
#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/DebugOutput.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <io.h>
#include <objbase.h>
#include <timeapi.h>
#include <string>

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
ComApartment::ComApartment() noexcept : m_initialized(SUCCEEDED(CoInitialize(nullptr))) {}

ComApartment::~ComApartment()
{
    if (m_initialized)
        CoUninitialize();
}

FineTimerResolution::FineTimerResolution() noexcept : m_granted(timeBeginPeriod(1) == TIMERR_NOERROR) {}

FineTimerResolution::~FineTimerResolution()
{
    if (m_granted)
        timeEndPeriod(1);
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
    ok = ok && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok)
        DeleteFileW(temp.c_str());
    return ok;
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
