#include "service/ServerRun.h"

namespace ovled::service {

HResult RunServer(IServerRuntime& runtime, bool& delayShutdown, const ServerTiming& timing)
{
    HResult result = runtime.RegisterClassObjects();
    if (!Succeeded(result))
        return result;

    if (result == kSFalse) {
        delayShutdown = false; // nothing to serve: no loop, no pause
    } else {
        if (delayShutdown) {
            if (!runtime.StartShutdownMonitor()) {
                (void)runtime.RevokeClassObjects();
                return kEFail;
            }
            runtime.ReportRunning();
            result = runtime.ResumeClassObjects();
            if (!Succeeded(result))
                runtime.StopShutdownMonitor(2 * timing.timeout);
            runtime.DetachShutdownMonitor();
        } else {
            runtime.ReportRunning();
            result = runtime.ResumeClassObjects();
        }
        if (!Succeeded(result)) {
            (void)runtime.RevokeClassObjects();
            return result;
        }
        runtime.RunMessageLoop();
    }

    result = runtime.RevokeClassObjects();
    if (delayShutdown)
        runtime.Pause(timing.pause);
    return result;
}

} // namespace ovled::service
