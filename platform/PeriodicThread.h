// PeriodicThread: a worker thread that runs one cycle per period until it is told to stop. Cycles start a
// period apart, start to start (a cycle's own time does not stretch the period); a cycle that overruns
// is followed at once by the next, which starts a new count, so there is never a burst to catch up. The
// first cycle starts one period after the run. Each run has its own COM apartment and thread session
// (platform/ThreadSession.h), both ended before the thread ends, and asks for fine timers when its
// period is short. At most one thread runs per object: a start after a stop first waits for the old
// thread to end, and every start clears a stop request left from before, so a stop that came while
// nothing ran never ends the next run. A cycle may ask for a pause: the worker then waits, without a
// period and without waking, until Wake (or a stop), runs a cycle at once and resumes its period from
// there. Start and stop calls may come from any thread; the cycles run on the worker thread.
#pragma once

#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/ThreadSession.h"

#include <atomic>
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
    // From a cycle, on the worker thread: after this cycle, wait for Wake instead of the period. A Wake
    // that came during the cycle cancels the pause.
    void PauseAfterThisCycle() noexcept { m_pauseAsked = true; }
    // Ends a pause at once; while the worker runs its period it only cancels a pause the current cycle
    // may ask for. Any thread.
    void Wake();
    // Whether the worker is in a pause now.
    bool IsPaused() const;

private:
    void Run() noexcept;

    IWaitClock& m_clock;
    const std::chrono::milliseconds m_period;
    const std::function<Cycle()> m_beginRun;
    IThreadSessions& m_sessions;
    // Signalled to stop, and to end a pause (m_stopAsked tells which).
    AutoResetEvent m_stop;
    std::atomic<bool> m_stopAsked{false};
    bool m_pauseAsked = false; // worker only
    mutable std::mutex m_pauseMutex;
    bool m_paused = false;
    bool m_woken = false; // a Wake came since the current cycle began
    mutable std::mutex m_mutex; // Start/stop bookkeeping; the worker never takes it
    std::thread m_thread;
    bool m_running = false;
};

} // namespace ovled::platform
