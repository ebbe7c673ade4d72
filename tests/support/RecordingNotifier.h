// A notifier that records every message instead of showing it, installed for the life of the object.
// Thread-safe: any thread may notify while the test reads.
#pragma once

#include "platform/Notifier.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace ovled::test {

class RecordingNotifier final : public platform::INotifier {
public:
    struct Message {
        std::wstring text;
        std::wstring caption;
    };

    RecordingNotifier() : m_install(*this) {}

    void Notify(std::wstring_view text, std::wstring_view caption) noexcept override
    {
        try {
            std::lock_guard lock(m_mutex);
            m_messages.push_back({std::wstring(text), std::wstring(caption)});
        } catch (...) {
        }
    }

    std::vector<Message> Messages()
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

    // The messages so far, which are then forgotten.
    std::vector<Message> Take()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_messages, {});
    }

    std::vector<std::wstring> Texts() { return Each([](const Message& m) { return m.text; }); }
    std::vector<std::wstring> Captions() { return Each([](const Message& m) { return m.caption; }); }
    // Each message as "caption: text".
    std::vector<std::wstring> Notes() { return Each([](const Message& m) { return m.caption + L": " + m.text; }); }

private:
    template <class Part>
    std::vector<std::wstring> Each(Part part)
    {
        std::vector<std::wstring> parts;
        for (const Message& message : Messages())
            parts.push_back(part(message));
        return parts;
    }

    std::mutex m_mutex;
    std::vector<Message> m_messages;
    platform::ScopedNotifier m_install;
};

} // namespace ovled::test
