#include "platform/PeriodicThread.h"

#include "platform/Com.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <utility>

namespace ovled::platform {

namespace {

// Below this period the system's default timer resolution (15.6 ms on Windows) would stretch the cycles.
constexpr std::chrono::milliseconds kFineTimersBelow{50};
// A pause waits for a wake-up; it looks again after this long (no wake-up is ever lost, this only bounds
// the clock arithmetic).
constexpr std::chrono::hours kPauseWait{24};

} // namespace

PeriodicThread::PeriodicThread(IWaitClock& clock, std::chrono::milliseconds period, std::function<Cycle()> beginRun,
                               IThreadSessions& sessions)
    : m_clock(clock), m_period(period), m_beginRun(std::move(beginRun)), m_sessions(sessions)
{
}

PeriodicThread::~PeriodicThread()
{
    StopAndWait();
}

bool PeriodicThread::IsRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

bool PeriodicThread::Start()
{
    std::lock_guard lock(m_mutex);
    if (m_running)
        return true;
    // The previous run has been told to stop; it ends at its next wait, or after the cycle it is in.
    if (m_thread.joinable())
        m_thread.join();
    m_stop.Reset();
    m_stopAsked = false;
    {
        std::lock_guard pause(m_pauseMutex);
        m_paused = m_woken = false;
    }
    m_pauseAsked = false;
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    m_running = true;
    return true;
}

void PeriodicThread::RequestStop()
{
    std::lock_guard lock(m_mutex);
    m_stopAsked = true;
    m_stop.Set();
    m_running = false;
}

void PeriodicThread::StopAndWait()
{
    std::lock_guard lock(m_mutex);
    m_stopAsked = true;
    m_stop.Set();
    m_running = false;
    if (m_thread.joinable())
        m_thread.join();
}

void PeriodicThread::Run() noexcept
{
    try {
        // The worker may reach the firmware, which needs COM on every thread that calls it. Declared in
        // this order, the cycle's state goes first, then the session, then the apartment.
        const ComApartment apartment;
        std::optional<FineTimerResolution> fineTimers;
        if (m_period < kFineTimersBelow)
            fineTimers.emplace();
        const std::unique_ptr<IThreadSession> session = m_sessions.Begin();
        const Cycle cycle = m_beginRun();
        // The wait comes first: the first cycle is one period after the start.
        IWaitClock::TimePoint next = m_clock.Now() + m_period;
        bool paused = false;
        for (;;) {
            const bool signalled = m_clock.WaitUntil(m_stop, paused ? m_clock.Now() + kPauseWait : next);
            if (signalled && m_stopAsked)
                break;
            if (paused && !signalled)
                continue; // still paused
            paused = false;
            {
                std::lock_guard pause(m_pauseMutex);
                m_woken = false;
            }
            try {
                cycle();
            } catch (...) {
                // A failed cycle is skipped; the next one keeps the pace.
            }
            // Start to start, on the schedule rather than from the moment the wait ended: a wake-up's
            // lateness (a millisecond or two under a coarse timer) would otherwise add to every period.
            // An overrun is followed at once and the pace resumes from then, with no burst to catch up;
            // after a pause the pace starts from the cycle the wake-up brought.
            next = signalled ? m_clock.Now() + m_period : std::max(next + m_period, m_clock.Now());
            if (std::exchange(m_pauseAsked, false)) {
                std::lock_guard pause(m_pauseMutex);
                paused = m_paused = !m_woken;
            }
        }
    } catch (...) {
        // Nothing may leave a thread procedure.
    }
}

void PeriodicThread::Wake()
{
    std::lock_guard pause(m_pauseMutex);
    m_woken = true;
    if (m_paused) {
        m_paused = false;
        m_stop.Set();
    }
}

bool PeriodicThread::IsPaused() const
{
    std::lock_guard pause(m_pauseMutex);
    return m_paused;
}

} // namespace ovled::platform
