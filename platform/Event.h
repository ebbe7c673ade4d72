// AutoResetEvent: a portable auto-reset event (the semantics of a Win32 auto-reset event: one waiter
// consumes the signal). Used as the stop signal of the service's periodic worker threads.
// Thread-safe; any thread may Set, Reset or wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ovled::platform {

class AutoResetEvent {
public:
    void Set();
    void Reset();
    // Waits until the event is set or the timeout passes. Returns true (and consumes the signal) when
    // the event was set.
    bool WaitFor(std::chrono::milliseconds timeout);
    // The same, until a point of the steady clock.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);
    // Returns and consumes the signal without waiting.
    bool TryConsume();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_signalled = false;
};

} // namespace ovled::platform
