// A copy of OvLedService.exe and ovledctl.exe in a fresh folder, for one test: its own Lighting.xml
// and its own registration. Before and after the test it removes the service, the registration in both
// class roots and any server process that runs the copy, whatever the test left behind.
// Used by the tests that run the executable; they hold the service host's resource lock.
#pragma once

#include "platform/win32/Unique.h"
#include "tests/support/TempFolder.h"
#include "tests/windows/support/Wait.h"

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ovled::test {

inline constexpr wchar_t kServiceName[] = L"Orvex LED Control Service";

struct ProcessResult {
    DWORD exitCode = 0;
    std::string output; // standard output and standard error together
};

struct ServiceState {
    DWORD state = 0;
    DWORD win32ExitCode = 0;
    DWORD processId = 0;
};

class ServerCopy {
public:
    ServerCopy();
    ~ServerCopy();
    ServerCopy(const ServerCopy&) = delete;
    ServerCopy& operator=(const ServerCopy&) = delete;

    const std::filesystem::path& Folder() const noexcept { return m_folder.Path(); }
    std::filesystem::path Exe() const { return m_folder / "OvLedService.exe"; }
    std::filesystem::path Tool() const { return m_folder / "ovledctl.exe"; }
    std::filesystem::path Settings() const { return m_folder / "Lighting.xml"; }

    // Runs the copy with the given arguments and waits for it to end.
    ProcessResult Run(const std::wstring& arguments) const { return RunProgram(Exe(), arguments); }
    ProcessResult RunTool(const std::wstring& arguments) const { return RunProgram(Tool(), arguments); }

    // The processes that run this copy (a local server started by COM, the service).
    std::vector<win32::UniqueHandle> ServerProcesses() const;
    // Waits until exactly one process runs the copy and returns it; null after the deadline.
    win32::UniqueHandle WaitForServerProcess(std::chrono::milliseconds patience = std::chrono::seconds(30)) const;

    void Cleanup() const;

private:
    static ProcessResult RunProgram(const std::filesystem::path& program, const std::wstring& arguments);

    TempFolder m_folder;
};

// The service's current state, or nothing when it is not installed.
std::optional<ServiceState> QueryOvLedService();
bool StartOvLedService();
// Asks the service to stop; true when the request was accepted.
bool SendServiceControl(DWORD control);
// Waits for a process to end; its exit code, or nothing after the deadline.
std::optional<DWORD> WaitForExit(HANDLE process, std::chrono::milliseconds patience = std::chrono::seconds(30));
} // namespace ovled::test
