// The run sequence of the COM server: publish the class objects, report running, pump messages until
// the quit message, withdraw the class objects. Used on the main thread in local-server mode and on
// the service thread in service mode. The operating system is reached through IServerRuntime.
#pragma once

#include "platform/Hresult.h"

#include <chrono>

namespace ovled::service {

class IServerRuntime {
public:
    virtual ~IServerRuntime() = default;
    // Registers every class object suspended; stops at the first failure. S_FALSE for an empty table.
    virtual HResult RegisterClassObjects() = 0;
    virtual HResult ResumeClassObjects() = 0;
    // Revokes every registered class object; stops at the first failure.
    virtual HResult RevokeClassObjects() = 0;
    // Starts the local server's shutdown monitor (its event and thread); false when either fails.
    virtual bool StartShutdownMonitor() = 0;
    // Signals the monitor and waits for its thread at most `wait`.
    virtual void StopShutdownMonitor(std::chrono::milliseconds wait) = 0;
    // Lets go of the monitor thread; it keeps running until the last lock is released.
    virtual void DetachShutdownMonitor() = 0;
    virtual void ReportRunning() = 0;
    // Pumps the calling thread's messages until WM_QUIT.
    virtual void RunMessageLoop() = 0;
    virtual void Pause(std::chrono::milliseconds duration) = 0;
};

struct ServerTiming {
    std::chrono::milliseconds timeout{5000}; // the monitor is waited for twice this when resuming fails
    std::chrono::milliseconds pause{1000};   // after revocation, with delay shutdown on
};

// Runs the server. `delayShutdown` selects the shutdown monitor (local server); it is cleared when
// there is no class object to serve.
HResult RunServer(IServerRuntime& runtime, bool& delayShutdown, const ServerTiming& timing = {});

} // namespace ovled::service
