#include "bench/HardwareBench.h"

#include <cstdio>

namespace ovled::bench {

void RunPlatformBenchmarks()
{
    std::printf(
        "(the bridge and ovio.dll figures come from the windows build: wine build/windows/bin/hardware_bench.exe)\n");
}

} // namespace ovled::bench
