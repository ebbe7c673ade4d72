#include "service/win32/Diagnostics.h"

#include "platform/BackgroundQueue.h"
#include "platform/DebugOutput.h"
#include "platform/win32/Unique.h"

#include <algorithm>
#include <atomic>
#include <chrono>
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

// Two writers, each a thread that is made on first use and kept for the process's life (it may be stuck
// in a write when the process ends). The pipe's reader may be anyone who created the pipe's name first
// and never reads, so the pipe's lines wait for it (1 s each) and are dropped when too many wait; the
// event log and the debugger output have a writer of their own, which no pipe reader can delay.
enum class Channel { Pipe, Local };
std::atomic<platform::BackgroundQueue*> g_writers[2] = {nullptr, nullptr};

platform::BackgroundQueue* MakeWriter(Channel channel)
{
    auto* queue = new platform::BackgroundQueue(kQueuedMessages);
    g_writers[static_cast<int>(channel)].store(queue);
    return queue;
}

platform::BackgroundQueue& Writer(Channel channel)
{
    static platform::BackgroundQueue* const pipe = MakeWriter(Channel::Pipe);
    static platform::BackgroundQueue* const local = MakeWriter(Channel::Local);
    return channel == Channel::Pipe ? *pipe : *local;
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

// The event type that the id's severity (bits 30-31) names.
WORD EventType(std::uint32_t id) noexcept
{
    switch (id >> 30) {
    case 3:
        return EVENTLOG_ERROR_TYPE;
    case 2:
        return EVENTLOG_WARNING_TYPE;
    case 1:
        return EVENTLOG_INFORMATION_TYPE;
    default:
        return EVENTLOG_SUCCESS;
    }
}

void WriteEventLog(const std::wstring& source, std::uint32_t id, const std::vector<std::wstring>& inserts)
{
    const Unique<EventSourceTraits> handle(RegisterEventSourceW(nullptr, source.c_str()));
    if (!handle)
        return;
    std::vector<const wchar_t*> strings;
    for (const auto& insert : inserts)
        strings.push_back(insert.c_str());
    ReportEventW(handle.get(), EventType(id), 0, id, nullptr, static_cast<WORD>(strings.size()), 0,
                 strings.empty() ? nullptr : strings.data(), nullptr);
}

} // namespace

void SendDiagnostic(std::wstring_view kind, std::wstring_view text) noexcept
{
    try {
        (void)Writer(Channel::Pipe).Post([line = Line(kind, text)] { WriteLine(line); });
    } catch (...) {
    }
}

void LogEvent(std::wstring_view source, std::uint32_t id, std::vector<std::wstring> inserts,
              std::wstring_view text) noexcept
{
    try {
        (void)Writer(Channel::Local).Post([source = std::wstring(source), id, inserts = std::move(inserts)] {
            WriteEventLog(source, id, inserts);
        });
        SendDiagnostic(L"event", text);
    } catch (...) {
    }
}

std::wstring FormatEventMessage(HMODULE module, std::uint32_t id, std::span<const std::wstring> inserts)
{
    // FormatMessageW reads as many arguments as the message names, whatever the caller passed: the
    // array always holds more than any message uses.
    constexpr std::size_t kMostInserts = 9;
    DWORD_PTR arguments[kMostInserts];
    for (std::size_t i = 0; i < kMostInserts; ++i)
        arguments[i] = reinterpret_cast<DWORD_PTR>(i < inserts.size() ? inserts[i].c_str() : L"");
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                       module, id, 0, reinterpret_cast<wchar_t*>(&buffer),
                       0, reinterpret_cast<va_list*>(arguments));
    const UniqueLocalMemory owned(buffer);
    std::wstring text(buffer ? buffer : L"", length);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    return text;
}

void EventLogWriter::Report(std::uint32_t id, std::span<const std::wstring> inserts) noexcept
{
    try {
        std::wstring text = FormatEventMessage(GetModuleHandleW(nullptr), id, inserts);
        if (text.empty()) { // an id the table lacks: the pipe still says what came
            wchar_t number[16];
            swprintf(number, ARRAYSIZE(number), L"0x%08X", id);
            text = number;
            for (const auto& insert : inserts)
                text += L" | " + insert;
        }
        LogEvent(m_source, id, std::vector<std::wstring>(inserts.begin(), inserts.end()), text);
    } catch (...) {
    }
}

void FlushDiagnostics(std::chrono::milliseconds patience) noexcept
{
    try {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        for (auto& slot : g_writers) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (platform::BackgroundQueue* writer = slot.load())
                (void)writer->Flush(std::max(left, std::chrono::milliseconds(0)));
        }
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
        // The debugger output too may wait for a reader (the system's debug buffer), so it is written
        // on the local writer's thread, not on the caller's, which may hold the lighting's locks.
        const std::wstring line = std::wstring(caption) + L": " + std::wstring(text);
        (void)Writer(Channel::Local).Post([line] { platform::DebugOutput().Write(line + L"\n"); });
        SendDiagnostic(L"notice", line);
    } catch (...) {
    }
}

} // namespace ovled::win32
