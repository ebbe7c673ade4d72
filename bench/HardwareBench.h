// The hardware benchmark's parts: the in-process figures (every build) and the platform's own.
#pragma once

namespace ovled::bench {

// Figures that need the platform's real transport and port-I/O library.
void RunPlatformBenchmarks();

} // namespace ovled::bench
