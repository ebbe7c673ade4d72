#include "platform/BackgroundQueue.h"

namespace ovled::platform {

BackgroundQueue::BackgroundQueue(std::size_t capacity)
    : m_capacity(capacity), m_thread([this] {
          try {
              Run();
          } catch (...) {
          }
      })
{
}

BackgroundQueue::~BackgroundQueue()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_jobs.clear();
    }
    m_changed.notify_all();
    m_thread.join();
}

bool BackgroundQueue::Post(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_jobs.size() >= m_capacity)
            return false;
        m_jobs.push_back(std::move(job));
    }
    m_changed.notify_all();
    return true;
}

bool BackgroundQueue::Flush(std::chrono::milliseconds patience)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, patience, [this] { return m_jobs.empty() && !m_busy; });
}

void BackgroundQueue::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_stop)
            return;
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        lock.unlock();
        try {
            job();
        } catch (...) {
        }
        lock.lock();
        m_busy = false;
        m_changed.notify_all(); // for Flush
    }
}

} // namespace ovled::platform
