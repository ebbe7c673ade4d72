#include "platform/PeriodicThread.h"

#include "platform/Com.h"

#include <system_error>

namespace ovled::platform {

PeriodicThread::PeriodicThread(IWaitClock& clock, std::chrono::milliseconds period, std::function<Cycle()> beginRun)
    : m_clock(clock), m_period(period), m_beginRun(std::move(beginRun))
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
        // The worker may reach the firmware, which needs COM on every thread that calls it.
        InitializeComForThread();
        const Cycle cycle = m_beginRun();
        // The wait comes first: the first cycle is one period after the start.
        while (!m_clock.WaitFor(m_stop, m_period)) {
            try {
                cycle();
            } catch (...) {
                // A failed cycle is skipped; the next one comes a period later.
            }
        }
    } catch (...) {
        // Nothing may leave a thread procedure.
    }
}

} // namespace ovled::platform
