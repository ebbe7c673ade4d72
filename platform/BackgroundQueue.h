// BackgroundQueue: jobs run in the order they were posted, on a thread of the queue's own, so that
// whoever posts never waits for them; a job posted while `capacity` jobs wait is dropped. Owned by its
// user (the diagnostic channel keeps one for the process's life); any thread may post and flush.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace ovled::platform {

class BackgroundQueue {
public:
    explicit BackgroundQueue(std::size_t capacity);
    // Drops the jobs that wait and waits for the one that runs.
    ~BackgroundQueue();
    BackgroundQueue(const BackgroundQueue&) = delete;
    BackgroundQueue& operator=(const BackgroundQueue&) = delete;

    // False when the job was dropped because the queue is full.
    bool Post(std::function<void()> job);
    // Waits until no job waits or runs, for at most `patience`; true when that came.
    bool Flush(std::chrono::milliseconds patience);

private:
    void Run();

    const std::size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread; // last: started once everything it uses exists
};

} // namespace ovled::platform
