#include "tools/soak/ServiceProbe.h"

#include "platform/win32/Unique.h"

#include <psapi.h>

#include <cstdio>

namespace ovled::soak {

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
    // Wine 8 answers 0 for another process (and PrivateUsage below too). Its system handle table
    // (NtQuerySystemInformation) is no way round: querying it while processes start and end crashed
    // Wine's server three times in our runs. The harness then reads /proc of the wine process.
    (void)GetProcessHandleCount(process.get(), &sample.handles);
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
                  "{\"t\":%.1f,\"state\":%lu,\"pid\":%lu,\"opened\":%d,\"handles\":%lu,\"private\":%llu,"
                  "\"workingset\":%llu,\"cpu_ms\":%.1f}",
                  epochMillis, static_cast<unsigned long>(sample.state), static_cast<unsigned long>(sample.processId),
                  sample.processOpened ? 1 : 0, static_cast<unsigned long>(sample.handles),
                  static_cast<unsigned long long>(sample.privateBytes),
                  static_cast<unsigned long long>(sample.workingSet), static_cast<double>(sample.cpu100ns) / 1e4);
    return text;
}

} // namespace ovled::soak
