// ServiceProbe: what Windows tells about a service's process: its id and state from the service
// manager, its handle count, private bytes, working set and CPU time from the process itself. Used by
// the soak tool's monitor thread; each call opens and closes what it needs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace ovled::soak {

struct ServiceSample {
    DWORD state = 0;         // SERVICE_RUNNING, ...; 0 when the service cannot be queried
    DWORD processId = 0;     // 0 while no process runs it
    bool processOpened = false;
    DWORD handles = 0;       // GetProcessHandleCount
    std::uint64_t privateBytes = 0; // PROCESS_MEMORY_COUNTERS_EX::PrivateUsage
    std::uint64_t workingSet = 0;
    std::uint64_t cpu100ns = 0;     // kernel + user time
};

ServiceSample ProbeService(const std::wstring& serviceName);

// One JSON object (no line end) with the sample's fields and `epochMillis`.
std::string SampleJson(const ServiceSample& sample, double epochMillis);

} // namespace ovled::soak
