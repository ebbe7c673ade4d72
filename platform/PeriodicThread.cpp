#include "platform/PeriodicThread.h"

#include "platform/Com.h"

#include <algorithm>
#include <optional>
#include <system_error>

namespace ovled::platform {

namespace {

// Below this period the system's default timer resolution (15.6 ms on Windows) would stretch the cycles.
constexpr std::chrono::milliseconds kFineTimersBelow{50};

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
    m_stop.Set();
    m_running = false;
}

void PeriodicThread::StopAndWait()
{
    std::lock_guard lock(m_mutex);
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
        while (!m_clock.WaitUntil(m_stop, next)) {
            try {
                cycle();
            } catch (...) {
                // A failed cycle is skipped; the next one keeps the pace.
            }
            // Start to start, on the schedule rather than from the moment the wait ended: a wake-up's
            // lateness (a millisecond or two under a coarse timer) would otherwise add to every period.
            // An overrun is followed at once and the pace resumes from then, with no burst to catch up.
            next = std::max(next + m_period, m_clock.Now());
        }
    } catch (...) {
        // Nothing may leave a thread procedure.
    }
}

} // namespace ovled::platform
