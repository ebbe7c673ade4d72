#include "platform/Event.h"

namespace ovled::platform {

void AutoResetEvent::Set()
{
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    m_changed.notify_one();
}

void AutoResetEvent::Reset()
{
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

bool AutoResetEvent::WaitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, timeout, [this] { return m_signalled; }))
        return false;
    m_signalled = false;
    return true;
}

bool AutoResetEvent::WaitUntil(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_until(lock, deadline, [this] { return m_signalled; }))
        return false;
    m_signalled = false;
    return true;
}

bool AutoResetEvent::TryConsume()
{
    std::lock_guard lock(m_mutex);
    const bool was = m_signalled;
    m_signalled = false;
    return was;
}

} // namespace ovled::platform
