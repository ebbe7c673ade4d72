// SoakClients: the soak run's COM clients. Each thread lives in its own apartment (the first half
// single-threaded, the rest multithreaded; even threads early-bound, odd ones late-bound) and sets
// random modes (the commands -2 and -3 among them) and reads modes at random intervals, timing every
// call. The late-bound threads now and then make a hostile call: an object of their own as the index of
// ModeByIndex, which the service must refuse (DISP_E_TYPEMISMATCH) without ever calling the object. The caller's thread is the monitor: it follows the control folder's "hold" and "stop" files,
// samples the service's process once a second, and at the end writes every call and the summary.
#pragma once

#include <string>

namespace ovled::soak {

struct SoakOptions {
    int threads = 8;
    unsigned seed = 1;
    double maxSeconds = 3600;     // ends by itself after this long even without a stop file
    int maxIntervalMillis = 200;  // pause before each call: uniform in [0, this]
    int strips = 3;               // set indices -3 .. strips-1
    std::wstring controlFolder;   // hold, held, stop, calls.csv, service.jsonl
    std::wstring serviceName;     // the service whose process is sampled
};

// Runs the clients until "stop" appears (or maxSeconds pass) and prints the summary JSON to stdout.
// While "hold" exists no client starts a set (they read instead); "held" appears once no set is in
// flight, and goes when "hold" goes. Returns 0 when the run could start at all.
int RunSoakClients(const SoakOptions& options);

} // namespace ovled::soak
