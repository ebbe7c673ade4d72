// ServiceWorker: the thread that talks to the service, so the window's thread never waits for it.
// The window posts changes and says whether it is visible; the worker runs a round at once for a
// change, ten a second while the window is visible (the colours), one a second while it is hidden
// (the change count alone: one call), and publishes a snapshot, calling `notify` (on its own thread)
// when it differs from the last one. A call that runs past the time limit shows as "not answering"; the
// window never waits for it. (COM's own cancellation is not used: under Wine 8 CoCancelCall blocks its
// caller for as long as the call it is to cancel.)
// The thread makes no call before Begin: a window shown at start draws first, and connects after, so
// that COM's start-up in the process does not stand between the person and the window.
// Built and destroyed by the window's thread; Begin, Post, SetVisible and Check may be called from any
// thread.
#pragma once

#include "app/ServiceSession.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ovled::app {

class ServiceWorker {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kAnswerLimit = std::chrono::seconds(2);
    static constexpr auto kVisiblePeriod = std::chrono::milliseconds(100);
    static constexpr auto kHiddenPeriod = std::chrono::seconds(1);

    ServiceWorker(std::unique_ptr<ILightingConnector> connector, std::function<void()> notify);
    // Stops the thread. One stuck in a call that will not give up is left behind after the time limit
    // (it owns everything it touches), so that closing the app never hangs.
    ~ServiceWorker();
    ServiceWorker(const ServiceWorker&) = delete;
    ServiceWorker& operator=(const ServiceWorker&) = delete;

    // Lets the thread start talking to the service; later calls do nothing.
    void Begin();
    void Post(Command command);
    void SetVisible(bool visible);
    // The latest snapshot; "not answering" while a round has run longer than the limit at `now`.
    Snapshot Check(Clock::time_point now) const;

private:
    struct Shared;
    static void Run(std::shared_ptr<Shared> shared);
    static void Serve(Shared& shared);

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

} // namespace ovled::app
