#include "app/ServiceWorker.h"

#include <utility>

namespace ovled::app {

// Everything the thread touches, kept alive by the thread itself as well as by the worker: a thread left
// behind in a call that never returns must find it all when the call ends.
struct ServiceWorker::Shared {
    Shared(std::unique_ptr<ILightingConnector> c, std::function<void()> n)
        : connector(std::move(c)), notify(std::move(n)), session(*connector)
    {
    }

    std::unique_ptr<ILightingConnector> connector;
    std::function<void()> notify;
    ServiceSession session; // the thread's alone

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended;
    std::vector<Command> commands;
    bool begun = false;
    bool visible = false;
    bool readAll = true;
    bool stop = false;
    bool finished = false;
    Snapshot published;
    // When the running round began (0: none runs).
    std::atomic<Clock::rep> roundStarted{0};
};

ServiceWorker::ServiceWorker(std::unique_ptr<ILightingConnector> connector, std::function<void()> notify)
    : m_shared(std::make_shared<Shared>(std::move(connector), std::move(notify))), m_thread(Run, m_shared)
{
}

ServiceWorker::~ServiceWorker()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stop = true;
    }
    m_shared->wake.notify_all();
    std::unique_lock lock(m_shared->mutex);
    if (m_shared->ended.wait_for(lock, kAnswerLimit, [this] { return m_shared->finished; })) {
        lock.unlock();
        m_thread.join();
    } else {
        lock.unlock();
        m_thread.detach();
    }
}

void ServiceWorker::Begin()
{
    {
        std::lock_guard lock(m_shared->mutex);
        if (std::exchange(m_shared->begun, true))
            return;
    }
    m_shared->wake.notify_all();
}

void ServiceWorker::Post(Command command)
{
    {
        std::lock_guard lock(m_shared->mutex);
        auto& waiting = m_shared->commands;
        std::erase_if(waiting, [&](const Command& earlier) { return earlier.ReplacedBy(command); });
        waiting.push_back(std::move(command));
    }
    m_shared->wake.notify_all();
}

void ServiceWorker::SetVisible(bool visible)
{
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->visible == visible)
            return;
        m_shared->visible = visible;
        m_shared->readAll = m_shared->readAll || visible;
    }
    m_shared->wake.notify_all();
}

Snapshot ServiceWorker::Check(Clock::time_point now) const
{
    Snapshot snapshot;
    {
        std::lock_guard lock(m_shared->mutex);
        snapshot = m_shared->published;
    }
    const Clock::rep started = m_shared->roundStarted.load();
    if (started != 0 && now - Clock::time_point(Clock::duration(started)) > kAnswerLimit) {
        snapshot.status = ServiceStatus::NotAnswering;
        snapshot.failure = kSOk;
    }
    return snapshot;
}

void ServiceWorker::Run(std::shared_ptr<Shared> shared)
{
    try {
        Serve(*shared);
    } catch (...) {
        // Out of memory: the app shows what it last knew; the window's watchdog sees no further rounds.
    }
    shared->session.Disconnect();
    shared->connector->ThreadEnding();
    {
        std::lock_guard lock(shared->mutex);
        shared->finished = true;
    }
    shared->ended.notify_all();
}

void ServiceWorker::Serve(Shared& state)
{
    Shared* shared = &state;
    {
        std::unique_lock lock(shared->mutex);
        shared->wake.wait(lock, [&] { return shared->stop || shared->begun; });
        if (shared->stop)
            return;
    }
    shared->connector->ThreadStarted();
    Clock::time_point next = Clock::now();
    for (;;) {
        std::vector<Command> commands;
        bool visible = false;
        bool readAll = false;
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait_until(lock, next, [&] {
                return shared->stop || !shared->commands.empty() || shared->readAll;
            });
            if (shared->stop)
                break;
            commands.swap(shared->commands);
            visible = shared->visible;
            readAll = std::exchange(shared->readAll, false);
        }
        const Clock::time_point now = Clock::now();
        shared->roundStarted = now.time_since_epoch().count();
        shared->session.Round(commands, visible, readAll, now);
        shared->roundStarted = 0;
        next = now + (visible ? std::chrono::duration_cast<Clock::duration>(kVisiblePeriod)
                              : std::chrono::duration_cast<Clock::duration>(kHiddenPeriod));
        bool changed = false;
        {
            std::lock_guard lock(shared->mutex);
            changed = !(shared->published == shared->session.Current());
            if (changed)
                shared->published = shared->session.Current();
            if (shared->stop)
                break;
        }
        if (changed && shared->notify)
            shared->notify();
    }
}

} // namespace ovled::app
