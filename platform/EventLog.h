// The event-log channel: messages of the executable's message table, each named by its id (see
// platform/EventIds.h) and carrying its inserts (%1, %2, ...). The service installs its writer (the
// Application event log and the diagnostic pipe); without one the messages go nowhere, and tests install
// a recorder. Reporting never blocks: writers queue. Any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace ovled::platform {

class IEventLog {
public:
    virtual ~IEventLog() = default;
    virtual void Report(std::uint32_t id, std::span<const std::wstring> inserts) noexcept = 0;
};

// The writer in force: the installed one, else one that drops every message.
IEventLog& EventLog() noexcept;

// Installs a writer for the life of the object (the service's entry; tests).
class ScopedEventLog {
public:
    explicit ScopedEventLog(IEventLog& log) noexcept;
    ~ScopedEventLog();
    ScopedEventLog(const ScopedEventLog&) = delete;
    ScopedEventLog& operator=(const ScopedEventLog&) = delete;

private:
    IEventLog* m_previous;
};

} // namespace ovled::platform
