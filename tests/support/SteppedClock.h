// Test clocks for the periodic worker threads.
//  SteppedClock: a wait returns "period over" only when the test grants a step, so a test releases one
//                cycle at a time and waits until the worker is back in its wait; sleeps return at once.
//                Its time stands still but for the steps (each moves it to the wait's deadline) and
//                Advance, with which a test makes a cycle take time.
//  LiveThreadClock: real short waits; counts the worker threads that are alive (between their first
//                wait and the wait that saw the stop signal) and remembers the most ever alive at once.
#pragma once

#include "platform/Clock.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

namespace ovled::test {

class SteppedClock final : public platform::IWaitClock {
public:
    TimePoint Now() override;
    bool WaitUntil(platform::AutoResetEvent& stop, TimePoint deadline) override;
    void Sleep(std::chrono::milliseconds duration) override;
    void Advance(std::chrono::milliseconds duration);

    // Lets one waiting worker finish its wait as if its period had run out.
    void Step();
    // Steps once and waits until the worker has run its cycle and waits again. False on a 10 s timeout.
    bool StepAndSettle();
    // Runs `action` (which wakes a worker some other way than a step) and waits until a worker has
    // entered a new wait. False on a 10 s timeout.
    bool SettleAfter(const std::function<void()>& action);
    // Waits until `count` workers are inside a wait. False on a 10 s timeout.
    bool WaitForWaiters(int count);
    // Waits until no worker is inside a wait. False on a 10 s timeout.
    bool WaitUntilNoWaiters();

    int Waiters();
    // How long the last wait was to last, from its start to its deadline.
    std::chrono::milliseconds LastPeriod();
    std::chrono::milliseconds TotalSlept();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_waiters = 0;
    int m_steps = 0;
    long m_entries = 0;
    TimePoint m_now{};
    std::chrono::milliseconds m_lastPeriod{0};
    std::chrono::milliseconds m_slept{0};
};

class LiveThreadClock final : public platform::IWaitClock {
public:
    explicit LiveThreadClock(std::chrono::milliseconds wait) : m_wait(wait) {}
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    // Waits its own short time, whatever the deadline.
    bool WaitUntil(platform::AutoResetEvent& stop, TimePoint deadline) override;
    void Sleep(std::chrono::milliseconds) override {}
    size_t MaxAlive();
    size_t Alive();

private:
    const std::chrono::milliseconds m_wait;
    std::mutex m_mutex;
    std::set<std::thread::id> m_alive;
    size_t m_maxAlive = 0;
};

} // namespace ovled::test
