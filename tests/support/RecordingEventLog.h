// An event log that records every message (its id and inserts) instead of writing it, installed for the
// life of the object. Thread-safe: any thread may report while the test reads.
#pragma once

#include "platform/EventLog.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace ovled::test {

class RecordingEventLog final : public platform::IEventLog {
public:
    struct Event {
        std::uint32_t id;
        std::vector<std::wstring> inserts;
    };

    RecordingEventLog() : m_install(*this) {}

    void Report(std::uint32_t id, std::span<const std::wstring> inserts) noexcept override
    {
        try {
            std::lock_guard lock(m_mutex);
            m_events.push_back({id, {inserts.begin(), inserts.end()}});
        } catch (...) {
        }
    }

    std::vector<Event> Events()
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

private:
    std::mutex m_mutex;
    std::vector<Event> m_events;
    platform::ScopedEventLog m_install;
};

} // namespace ovled::test
