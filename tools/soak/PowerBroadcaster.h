// PowerBroadcaster: a test-only Windows service that plays the power manager for the soak run. Every
// interval it finds the service's hidden power window and sends it a suspend and then a resume
// broadcast, and logs each send's outcome as a JSON line. It must itself be a service: a service's
// windows live on the services' window station, where no program of a user's session finds them.
// Install, start, stop and remove run on the soak tool's main thread; the service runs its own.
#pragma once

#include <string>

namespace ovled::soak {

inline constexpr wchar_t kPowerBroadcasterName[] = L"OvLedSoakPowerBroadcaster";

// Registers the service (this executable with "power-service LOG INTERVAL_MS") and starts it; waits
// until it runs. 0 on success, else a Win32 error.
unsigned long InstallPowerBroadcaster(const std::wstring& logPath, unsigned intervalMillis);
// Stops the service (waiting at most 10 s) and deletes it. 0 on success, also when it does not exist.
unsigned long RemovePowerBroadcaster();
// The process entry when the service manager starts it: hands the thread to the dispatcher.
int RunPowerBroadcasterService(const std::wstring& logPath, unsigned intervalMillis);

} // namespace ovled::soak
