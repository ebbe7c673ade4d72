#include "service/win32/Diagnostics.h"

#include "platform/BackgroundQueue.h"
#include "platform/DebugOutput.h"
#include "platform/win32/Unique.h"

#include <atomic>
#include <string>

namespace ovled::win32 {
namespace {

constexpr std::size_t kQueuedMessages = 256;
constexpr DWORD kWriteTimeoutMs = 1000;
constexpr int kBusyRetries = 3;
constexpr DWORD kBusyWaitMs = 500;

struct EventSourceTraits {
    using Type = HANDLE;
    static HANDLE Invalid() noexcept { return nullptr; }
    static void Close(HANDLE source) noexcept { DeregisterEventSource(source); }
};

std::atomic<platform::BackgroundQueue*> g_writer{nullptr};

// The thread that writes; made on first use and kept for the process's life (it may be stuck in a
// write when the process ends).
platform::BackgroundQueue& Writer()
{
    static platform::BackgroundQueue* const writer = [] {
        auto* queue = new platform::BackgroundQueue(kQueuedMessages);
        g_writer.store(queue);
        return queue;
    }();
    return *writer;
}

std::wstring Line(std::wstring_view kind, std::wstring_view text)
{
    return std::to_wstring(GetCurrentProcessId()) + L" " + std::wstring(kind) + L" " + std::wstring(text);
}

// False when the reader has not taken the line within the timeout; the write is then cancelled.
bool WriteWithin(HANDLE pipe, const std::wstring& line, DWORD timeoutMs)
{
    const UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done)
        return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = done.get();
    DWORD written = 0;
    if (WriteFile(pipe, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), nullptr, &overlapped))
        return true;
    if (GetLastError() != ERROR_IO_PENDING)
        return false;
    if (WaitForSingleObject(done.get(), timeoutMs) == WAIT_OBJECT_0)
        return GetOverlappedResult(pipe, &overlapped, &written, FALSE) != FALSE;
    CancelIo(pipe);
    GetOverlappedResult(pipe, &overlapped, &written, TRUE); // the line must outlive the write
    return false;
}

// On the writer thread: one connection per line, as the listener expects.
void WriteLine(const std::wstring& line)
{
    for (int attempt = 0; attempt <= kBusyRetries; ++attempt) {
        // Identification only: whoever listens may learn who we are but never act as us (the service
        // runs as LocalSystem).
        UniqueFileHandle pipe(CreateFileW(kDiagnosticPipeName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                          nullptr));
        if (pipe) {
            (void)WriteWithin(pipe.get(), line, kWriteTimeoutMs);
            return;
        }
        if (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(kDiagnosticPipeName, kBusyWaitMs))
            return; // nobody listens
    }
}

void WriteEventLog(const std::wstring& source, const std::wstring& text)
{
    const Unique<EventSourceTraits> handle(RegisterEventSourceW(nullptr, source.c_str()));
    if (!handle)
        return;
    const wchar_t* strings[] = {text.c_str()};
    ReportEventW(handle.get(), EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}

} // namespace

void SendDiagnostic(std::wstring_view kind, std::wstring_view text) noexcept
{
    try {
        (void)Writer().Post([line = Line(kind, text)] { WriteLine(line); });
    } catch (...) {
    }
}

void LogEvent(std::wstring_view source, std::wstring_view text) noexcept
{
    try {
        (void)Writer().Post([source = std::wstring(source), text = std::wstring(text), line = Line(L"event", text)] {
            WriteEventLog(source, text);
            WriteLine(line);
        });
    } catch (...) {
    }
}

void FlushDiagnostics(std::chrono::milliseconds patience) noexcept
{
    try {
        if (platform::BackgroundQueue* writer = g_writer.load())
            (void)writer->Flush(patience);
    } catch (...) {
    }
}

namespace {

// Wine with its null graphics driver has a desktop that no one can see.
bool OnInvisibleWineDesktop() noexcept
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll || !GetProcAddress(ntdll, "wine_get_version"))
        return false;
    wchar_t driver[32] = {};
    DWORD size = sizeof(driver);
    return RegGetValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Drivers", L"Graphics", RRF_RT_REG_SZ, nullptr, driver,
                        &size) == ERROR_SUCCESS &&
           _wcsicmp(driver, L"null") == 0;
}

} // namespace

bool CanShowMessageBoxes() noexcept
{
    wchar_t value[8];
    if (GetEnvironmentVariableW(L"OVLED_NO_MESSAGE_BOXES", value, ARRAYSIZE(value)) > 0)
        return false;
    if (OnInvisibleWineDesktop())
        return false;
    USEROBJECTFLAGS flags{};
    const HWINSTA station = GetProcessWindowStation();
    return station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr) &&
           (flags.dwFlags & WSF_VISIBLE);
}

void MessageBoxNotifier::Notify(std::wstring_view text, std::wstring_view caption) noexcept
{
    try {
        MessageBoxW(nullptr, std::wstring(text).c_str(), std::wstring(caption).c_str(), MB_OK);
    } catch (...) {
    }
}

void DiagnosticNotifier::Notify(std::wstring_view text, std::wstring_view caption) noexcept
{
    try {
        const std::wstring line = std::wstring(caption) + L": " + std::wstring(text);
        platform::DebugOutput().Write(line + L"\n");
        SendDiagnostic(L"notice", line);
    } catch (...) {
    }
}

} // namespace ovled::win32
