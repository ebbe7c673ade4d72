// Thread sessions: what a thread holds while it does the lighting's work. The service's is its held
// firmware connection. A thread begins a session where its work begins (a worker's run, the power
// window's life, one COM call) and the session ends where the work ends, on the same thread, before the
// thread leaves COM; outside a session the work still runs, only without what the session holds. The
// composition root hands the process's sessions to every owner of such a thread.
#pragma once

#include <memory>

namespace ovled::platform {

// Ends the session when destroyed, on the thread that began it.
class IThreadSession {
public:
    virtual ~IThreadSession() = default;
};

class IThreadSessions {
public:
    virtual ~IThreadSessions() = default;
    // Begins a session on the calling thread; null when there is nothing to hold (or no memory for it).
    [[nodiscard]] virtual std::unique_ptr<IThreadSession> Begin() noexcept = 0;
};

// Sessions that hold nothing: a root whose firmware needs no connection (a board in process).
IThreadSessions& NoThreadSessions() noexcept;

} // namespace ovled::platform
