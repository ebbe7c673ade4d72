#include "service/win32/Diagnostics.h"

#include "platform/DebugOutput.h"
#include "platform/win32/Unique.h"

#include <string>

namespace ovled::win32 {
namespace {

constexpr int kBusyRetries = 3;
constexpr DWORD kBusyWaitMs = 500;

struct EventSourceTraits {
    using Type = HANDLE;
    static HANDLE Invalid() noexcept { return nullptr; }
    static void Close(HANDLE source) noexcept { DeregisterEventSource(source); }
};

} // namespace

void SendDiagnostic(std::wstring_view kind, std::wstring_view text) noexcept
{
    try {
        const std::wstring line =
            std::to_wstring(GetCurrentProcessId()) + L" " + std::wstring(kind) + L" " + std::wstring(text);
        for (int attempt = 0; attempt <= kBusyRetries; ++attempt) {
            // Identification only: whoever listens may learn who we are but never act as us (the
            // service runs as LocalSystem).
            UniqueFileHandle pipe(CreateFileW(kDiagnosticPipeName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
            if (pipe) {
                DWORD written = 0;
                WriteFile(pipe.get(), line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
                          nullptr);
                return;
            }
            if (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(kDiagnosticPipeName, kBusyWaitMs))
                return; // nobody listens
        }
    } catch (...) {
    }
}

void WriteEventLog(std::wstring_view source, std::wstring_view text) noexcept
{
    try {
        const Unique<EventSourceTraits> handle(RegisterEventSourceW(nullptr, std::wstring(source).c_str()));
        if (!handle)
            return;
        const std::wstring message(text);
        const wchar_t* strings[] = {message.c_str()};
        ReportEventW(handle.get(), EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
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
