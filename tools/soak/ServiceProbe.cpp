#include "tools/soak/ServiceProbe.h"

#include "platform/win32/Unique.h"

#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace ovled::soak {
namespace {

// The system's handle table as NtQuerySystemInformation(SystemExtendedHandleInformation) gives it.
constexpr auto kSystemExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

struct HandleEntry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

// The number of handles the process holds, counted in the system's handle table: Wine answers
// GetProcessHandleCount for another process with 0. 0 when the table cannot be read.
DWORD CountHandlesInSystemTable(DWORD processId)
{
    std::vector<unsigned char> buffer(1 << 20);
    for (int attempt = 0; attempt < 6; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status = NtQuerySystemInformation(kSystemExtendedHandleInformation, buffer.data(),
                                                         static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 65536));
            continue;
        }
        if (status < 0)
            return 0;
        const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
        DWORD count = 0;
        for (ULONG_PTR i = 0; i < table->count; ++i)
            count += table->entries[i].processId == processId ? 1 : 0;
        return count;
    }
    return 0;
}

} // namespace

ServiceSample ProbeService(const std::wstring& serviceName)
{
    ServiceSample sample;
    const win32::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return sample;
    const win32::UniqueServiceHandle service(OpenServiceW(manager.get(), serviceName.c_str(), SERVICE_QUERY_STATUS));
    if (!service)
        return sample;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &needed))
        return sample;
    sample.state = status.dwCurrentState;
    sample.processId = status.dwProcessId;
    if (!sample.processId)
        return sample;
    const win32::UniqueHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, sample.processId));
    if (!process)
        return sample;
    sample.processOpened = true;
    if (!GetProcessHandleCount(process.get(), &sample.handles) || sample.handles == 0) {
        sample.handles = CountHandlesInSystemTable(sample.processId);
        sample.handlesFromSystemTable = true;
    }
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        sample.privateBytes = memory.PrivateUsage;
        sample.workingSet = memory.WorkingSetSize;
    }
    FILETIME created{}, exited{}, kernel{}, user{};
    if (GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) {
        auto ticks = [](const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
        sample.cpu100ns = ticks(kernel) + ticks(user);
    }
    return sample;
}

std::string SampleJson(const ServiceSample& sample, double epochMillis)
{
    char text[320];
    std::snprintf(text, sizeof text,
                  "{\"t\":%.1f,\"state\":%lu,\"pid\":%lu,\"opened\":%d,\"handles\":%lu,\"handles_from\":\"%s\",\"private\":%llu,"
                  "\"workingset\":%llu,\"cpu_ms\":%.1f}",
                  epochMillis, static_cast<unsigned long>(sample.state), static_cast<unsigned long>(sample.processId),
                  sample.processOpened ? 1 : 0, static_cast<unsigned long>(sample.handles),
                  sample.handlesFromSystemTable ? "system-table" : "process",
                  static_cast<unsigned long long>(sample.privateBytes),
                  static_cast<unsigned long long>(sample.workingSet), static_cast<double>(sample.cpu100ns) / 1e4);
    return text;
}

} // namespace ovled::soak
