// PeriodicThread: a worker thread that runs one cycle per period until it is told to stop. Cycles start a
// period apart, start to start (a cycle's own time does not stretch the period); a cycle that overruns
// is followed at once by the next, which starts a new count, so there is never a burst to catch up. The
// first cycle starts one period after the run. Each run has its own COM apartment and thread session
// (platform/ThreadSession.h), both ended before the thread ends, and asks for fine timers when its
// period is short. At most one thread runs per object: a start after a stop first waits for the old
// thread to end, and every start clears a stop request left from before, so a stop that came while
// nothing ran never ends the next run. Start and stop calls may come from any thread; the cycles run on
// the worker thread.
#pragma once

#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/ThreadSession.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace ovled::platform {

class PeriodicThread {
public:
    using Cycle = std::function<void()>;
    // `beginRun` is called on the worker thread at the start of every run and returns that run's cycle,
    // so state that belongs to one run starts afresh each time.
    PeriodicThread(IWaitClock& clock, std::chrono::milliseconds period, std::function<Cycle()> beginRun,
                   IThreadSessions& sessions = NoThreadSessions());
    ~PeriodicThread();
    PeriodicThread(const PeriodicThread&) = delete;
    PeriodicThread& operator=(const PeriodicThread&) = delete;

    // Started and not asked to stop since.
    bool IsRunning() const;
    // Starts a run unless one is recorded as running. Returns false when no thread could be made.
    bool Start();
    // Signals the stop and records the run as stopped; the worker ends at its current wait, or after the
    // cycle it is in. Does not wait for it.
    void RequestStop();
    // Signals the stop and waits until the worker has ended.
    void StopAndWait();

private:
    void Run() noexcept;

    IWaitClock& m_clock;
    const std::chrono::milliseconds m_period;
    const std::function<Cycle()> m_beginRun;
    IThreadSessions& m_sessions;
    AutoResetEvent m_stop;
    mutable std::mutex m_mutex; // Start/stop bookkeeping; the worker never takes it
    std::thread m_thread;
    bool m_running = false;
};

} // namespace ovled::platform
