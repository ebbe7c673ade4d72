#include "tests/support/SteppedClock.h"

#include <algorithm>

namespace ovled::test {
namespace {
constexpr auto kPatience = std::chrono::seconds(10);
// The stop event is a separate primitive; the stepped wait looks at it this often.
constexpr auto kStopPoll = std::chrono::milliseconds(1);
} // namespace

SteppedClock::TimePoint SteppedClock::Now()
{
    std::lock_guard lock(m_mutex);
    return m_now;
}

void SteppedClock::Advance(std::chrono::milliseconds duration)
{
    std::lock_guard lock(m_mutex);
    m_now += duration;
}

bool SteppedClock::WaitUntil(platform::AutoResetEvent& stop, TimePoint deadline)
{
    std::unique_lock lock(m_mutex);
    ++m_waiters;
    ++m_entries;
    m_lastPeriod = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - m_now),
                            std::chrono::milliseconds(0));
    m_changed.notify_all();
    for (;;) {
        if (stop.TryConsume()) {
            --m_waiters;
            m_changed.notify_all();
            return true;
        }
        if (m_steps > 0) {
            --m_steps;
            --m_waiters;
            m_now = std::max(m_now, deadline);
            m_changed.notify_all();
            return false;
        }
        m_changed.wait_for(lock, kStopPoll);
    }
}

void SteppedClock::Sleep(std::chrono::milliseconds duration)
{
    std::lock_guard lock(m_mutex);
    m_slept += duration;
}

void SteppedClock::Step()
{
    std::lock_guard lock(m_mutex);
    ++m_steps;
    m_changed.notify_all();
}

bool SteppedClock::StepAndSettle()
{
    std::unique_lock lock(m_mutex);
    const long entries = m_entries;
    ++m_steps;
    m_changed.notify_all();
    return m_changed.wait_for(lock, kPatience, [&] { return m_entries > entries && m_steps == 0 && m_waiters > 0; });
}

bool SteppedClock::SettleAfter(const std::function<void()>& action)
{
    long entries = 0;
    {
        std::lock_guard lock(m_mutex);
        entries = m_entries;
    }
    action();
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, kPatience, [&] { return m_entries > entries && m_waiters > 0; });
}

bool SteppedClock::WaitForWaiters(int count)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, kPatience, [&] { return m_waiters >= count; });
}

bool SteppedClock::WaitUntilNoWaiters()
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, kPatience, [&] { return m_waiters == 0; });
}

int SteppedClock::Waiters()
{
    std::lock_guard lock(m_mutex);
    return m_waiters;
}

std::chrono::milliseconds SteppedClock::LastPeriod()
{
    std::lock_guard lock(m_mutex);
    return m_lastPeriod;
}

std::chrono::milliseconds SteppedClock::TotalSlept()
{
    std::lock_guard lock(m_mutex);
    return m_slept;
}

bool LiveThreadClock::WaitUntil(platform::AutoResetEvent& stop, TimePoint)
{
    {
        std::lock_guard lock(m_mutex);
        m_alive.insert(std::this_thread::get_id());
        m_maxAlive = std::max(m_maxAlive, m_alive.size());
    }
    const bool stopped = stop.WaitFor(m_wait);
    if (stopped) {
        std::lock_guard lock(m_mutex);
        m_alive.erase(std::this_thread::get_id());
    }
    return stopped;
}

size_t LiveThreadClock::MaxAlive()
{
    std::lock_guard lock(m_mutex);
    return m_maxAlive;
}

size_t LiveThreadClock::Alive()
{
    std::lock_guard lock(m_mutex);
    return m_alive.size();
}

} // namespace ovled::test
