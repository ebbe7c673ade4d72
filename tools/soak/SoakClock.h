// The soak tool's two clocks: wall-clock milliseconds since 1970 (so that the harness can line the
// tool's records up with its own), and a monotonic millisecond count for durations. Any thread.
#pragma once

#include <windows.h>

namespace ovled::soak {

inline double EpochMillis() noexcept
{
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const ULONGLONG ticks = (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ULL) / 1e4;
}

inline double MonotonicMillis() noexcept
{
    static const double frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / frequency;
}

} // namespace ovled::soak
