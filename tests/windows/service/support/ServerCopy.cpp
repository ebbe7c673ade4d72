#include "tests/windows/service/support/ServerCopy.h"

#include "platform/Paths.h"
#include "service/Identifiers.h"
#include "service/win32/Win32Registry.h"

#include <tlhelp32.h>

#include <stdexcept>

namespace ovled::test {
namespace fs = std::filesystem;
using win32::UniqueHandle;
using win32::UniqueServiceHandle;

namespace {

constexpr wchar_t kBlockerService[] = L"OvLed Test Blocker";

std::wstring Text(std::wstring_view view)
{
    return std::wstring(view);
}

void RemoveService(const wchar_t* name)
{
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return;
    UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
    if (!service)
        return;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                             &needed) &&
        status.dwProcessId != 0) {
        UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
        SERVICE_STATUS ignored{};
        ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
        if (process)
            WaitForSingleObject(process.get(), 15000);
    }
    DeleteService(service.get());
}

void RemoveRegistration()
{
    const std::wstring keys[] = {
        L"CLSID\\" + Text(service::kLightControlClsid),   Text(service::kProgId),
        Text(service::kVersionIndependentProgId),         L"TypeLib\\" + Text(service::kTypeLibraryId),
        L"Interface\\" + Text(service::kLightControlIid),
    };
    for (auto root : {win32::RegistryEditor::MachineClasses(), win32::RegistryEditor::UserClasses()}) {
        for (const auto& key : keys)
            (void)root.DeleteTree(key);
    }
    auto machine = win32::RegistryEditor::MachineClasses();
    (void)machine.DeleteTree(L"AppID\\" + Text(service::kAppId));
}

} // namespace

ServerCopy::ServerCopy()
{
    SetEnvironmentVariableW(L"OVLED_NO_MESSAGE_BOXES", L"1"); // inherited by every program the test starts
    const fs::path built = platform::ExecutableDirectory();
    for (const char* name : {"OvLedService.exe", "ovledctl.exe"})
        fs::copy_file(built / name, m_folder / name);
    Cleanup();
}

ServerCopy::~ServerCopy()
{
    Cleanup();
}

void ServerCopy::Cleanup() const
{
    RemoveService(kServiceName);
    RemoveService(kBlockerService);
    // A server ends by itself soon after its last client; one that is killed while its class object
    // is registered leaves a stale entry that breaks every later activation in the session.
    for (const auto& process : ServerProcesses()) {
        if (WaitForSingleObject(process.get(), 5000) != WAIT_OBJECT_0) {
            TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), 10000);
        }
    }
    RemoveRegistration();
}

ProcessResult ServerCopy::RunProgram(const fs::path& program, const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16))
        throw std::runtime_error("cannot create a pipe");
    UniqueHandle reader(readEnd);
    UniqueHandle writer(writeEnd);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();
    std::wstring commandLine = L"\"" + program.wstring() + L"\" " + arguments;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &info))
        throw std::runtime_error("cannot start " + program.string() + ": error " + std::to_string(GetLastError()));
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    writer.reset();

    // The output is read once the program has ended, and only what is there: a helper process that the
    // program started (Wine's rpcss) may hold the pipe open for the rest of the session. The pipe holds
    // far more than the programs ever write.
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0)
        throw std::runtime_error(program.string() + " did not end");
    ProcessResult result;
    GetExitCodeProcess(process.get(), &result.exitCode);
    char buffer[4096];
    DWORD available = 0;
    DWORD read = 0;
    while (PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ReadFile(reader.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        result.output.append(buffer, read);
    return result;
}

std::vector<UniqueHandle> ServerCopy::ServerProcesses() const
{
    std::vector<UniqueHandle> processes;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE) {
        snapshot.release();
        return processes;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    const std::wstring exe = Exe().wstring();
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, L"OvLedService.exe") != 0)
            continue;
        UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                                         entry.th32ProcessID));
        wchar_t path[MAX_PATH * 2];
        DWORD length = ARRAYSIZE(path);
        if (process && QueryFullProcessImageNameW(process.get(), 0, path, &length) && _wcsicmp(path, exe.c_str()) == 0)
            processes.push_back(std::move(process));
    }
    return processes;
}

UniqueHandle ServerCopy::WaitForServerProcess(std::chrono::milliseconds patience) const
{
    UniqueHandle found;
    WaitUntil(
        [&] {
            auto processes = ServerProcesses();
            if (processes.size() != 1)
                return false;
            found = std::move(processes.front());
            return true;
        },
        patience);
    return found;
}

std::optional<ServiceState> QueryOvLedService()
{
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS) : nullptr);
    if (!service)
        return std::nullopt;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed))
        return std::nullopt;
    return ServiceState{status.dwCurrentState, status.dwWin32ExitCode, status.dwProcessId};
}

bool StartOvLedService()
{
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), kServiceName, SERVICE_START) : nullptr);
    return service && StartServiceW(service.get(), 0, nullptr);
}

bool SendServiceControl(DWORD control)
{
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(manager
                                    ? OpenServiceW(manager.get(), kServiceName,
                                                   SERVICE_STOP | SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL)
                                    : nullptr);
    SERVICE_STATUS status{};
    return service && ControlService(service.get(), control, &status);
}

std::optional<DWORD> WaitForExit(HANDLE process, std::chrono::milliseconds patience)
{
    if (WaitForSingleObject(process, static_cast<DWORD>(patience.count())) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

} // namespace ovled::test
