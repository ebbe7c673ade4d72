#include "tools/soak/PowerBroadcaster.h"

#include "lighting/win32/PowerEventWindow.h"
#include "platform/win32/Unique.h"
#include "tools/soak/SoakClock.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace ovled::soak {
namespace {

constexpr DWORD kSendTimeoutMillis = 10000;
constexpr DWORD kStateWaitMillis = 10000;

// The service manager's entry points carry no context: the one broadcaster of this process.
struct Broadcaster {
    std::wstring logPath;
    unsigned intervalMillis = 5000;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    win32::UniqueHandle stop;
};
Broadcaster g_broadcaster;

void Report(DWORD state, DWORD exitCode = NO_ERROR)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
    (void)SetServiceStatus(g_broadcaster.statusHandle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) noexcept
{
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_broadcaster.stop.get());
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

struct SendOutcome {
    bool ok = false;
    DWORD error = 0;
    double millis = 0;
};

SendOutcome Send(HWND window, WPARAM event)
{
    SendOutcome outcome;
    const double start = MonotonicMillis();
    DWORD_PTR result = 0;
    outcome.ok = SendMessageTimeoutW(window, WM_POWERBROADCAST, event, 0, SMTO_NORMAL, kSendTimeoutMillis, &result) != 0;
    outcome.error = outcome.ok ? 0 : GetLastError();
    outcome.millis = MonotonicMillis() - start;
    return outcome;
}

// One line per pair: when, whether the window was found, and each send's outcome.
void LogPair(HANDLE log, bool found, const SendOutcome& suspend, const SendOutcome& resume)
{
    char line[256];
    const int length = std::snprintf(
        line, sizeof line,
        "{\"t\":%.1f,\"found\":%d,\"suspend_ok\":%d,\"suspend_error\":%lu,\"suspend_ms\":%.2f,"
        "\"resume_ok\":%d,\"resume_error\":%lu,\"resume_ms\":%.2f}\n",
        EpochMillis(), found ? 1 : 0, suspend.ok ? 1 : 0, static_cast<unsigned long>(suspend.error), suspend.millis,
        resume.ok ? 1 : 0, static_cast<unsigned long>(resume.error), resume.millis);
    DWORD written = 0;
    if (length > 0)
        (void)WriteFile(log, line, static_cast<DWORD>(length), &written, nullptr);
}

void Broadcast(HANDLE log)
{
    while (WaitForSingleObject(g_broadcaster.stop.get(), g_broadcaster.intervalMillis) == WAIT_TIMEOUT) {
        const HWND window = FindWindowW(win32::kPowerWindowName, win32::kPowerWindowName);
        SendOutcome suspend, resume;
        if (window) {
            suspend = Send(window, PBT_APMSUSPEND);
            resume = Send(window, PBT_APMRESUMESUSPEND);
        }
        LogPair(log, window != nullptr, suspend, resume);
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**) noexcept
{
    try {
        g_broadcaster.statusHandle = RegisterServiceCtrlHandlerExW(kPowerBroadcasterName, Control, nullptr);
        if (!g_broadcaster.statusHandle)
            return;
        g_broadcaster.stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        const win32::UniqueFileHandle log(CreateFileW(g_broadcaster.logPath.c_str(), FILE_APPEND_DATA,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!g_broadcaster.stop || !log) {
            Report(SERVICE_STOPPED, GetLastError());
            return;
        }
        Report(SERVICE_RUNNING);
        Broadcast(log.get());
        Report(SERVICE_STOPPED);
    } catch (...) {
        Report(SERVICE_STOPPED, ERROR_INTERNAL_ERROR);
    }
}

bool WaitForState(SC_HANDLE service, DWORD wanted)
{
    const ULONGLONG deadline = GetTickCount64() + kStateWaitMillis;
    SERVICE_STATUS status{};
    while (QueryServiceStatus(service, &status) && status.dwCurrentState != wanted) {
        if (GetTickCount64() >= deadline || status.dwCurrentState == SERVICE_STOPPED)
            return false;
        Sleep(50);
    }
    return status.dwCurrentState == wanted;
}

} // namespace

unsigned long InstallPowerBroadcaster(const std::wstring& logPath, unsigned intervalMillis)
{
    wchar_t exe[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (!length || length >= MAX_PATH)
        return GetLastError() ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    const std::wstring command = L"\"" + std::wstring(exe) + L"\" power-service \"" + logPath + L"\" " +
                                 std::to_wstring(intervalMillis);
    const win32::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return GetLastError();
    const win32::UniqueServiceHandle service(
        CreateServiceW(manager.get(), kPowerBroadcasterName, L"OvLed soak: power broadcasts", SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(),
                       nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service)
        return GetLastError();
    if (!StartServiceW(service.get(), 0, nullptr))
        return GetLastError();
    return WaitForState(service.get(), SERVICE_RUNNING) ? 0 : ERROR_SERVICE_REQUEST_TIMEOUT;
}

unsigned long RemovePowerBroadcaster()
{
    const win32::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return GetLastError();
    const win32::UniqueServiceHandle service(OpenServiceW(manager.get(), kPowerBroadcasterName, SERVICE_ALL_ACCESS));
    if (!service)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : GetLastError();
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        (void)WaitForState(service.get(), SERVICE_STOPPED);
    return DeleteService(service.get()) ? 0 : GetLastError();
}

int RunPowerBroadcasterService(const std::wstring& logPath, unsigned intervalMillis)
{
    g_broadcaster.logPath = logPath;
    g_broadcaster.intervalMillis = intervalMillis;
    std::wstring name = kPowerBroadcasterName; // the table wants a writable name
    const SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}

} // namespace ovled::soak
