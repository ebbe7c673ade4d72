// The overridable message channels. The defaults live with the platform implementations.
#include "platform/DebugOutput.h"
#include "platform/EventLog.h"
#include "platform/Notifier.h"

#include <atomic>
#include <string>

namespace ovled::platform {

IDebugOutput& DefaultDebugOutput() noexcept; // posix/ or win32/

namespace {

std::atomic<INotifier*> g_notifier{nullptr};
std::atomic<IDebugOutput*> g_debugOutput{nullptr};
std::atomic<IEventLog*> g_eventLog{nullptr};

class DroppedEvents final : public IEventLog {
public:
    void Report(std::uint32_t, std::span<const std::wstring>) noexcept override {}
};

// The default never blocks: the text goes to the debug output with its caption, and the caller goes on.
class DebugOutputNotifier final : public INotifier {
public:
    void Notify(std::wstring_view text, std::wstring_view caption) noexcept override
    {
        try {
            DebugOutput().Write(std::wstring(caption) + L": " + std::wstring(text) + L"\n");
        } catch (...) {
        }
    }
};

INotifier& DefaultNotifier() noexcept
{
    static DebugOutputNotifier notifier;
    return notifier;
}

} // namespace

INotifier& Notifier() noexcept
{
    INotifier* installed = g_notifier.load();
    return installed ? *installed : DefaultNotifier();
}

ScopedNotifier::ScopedNotifier(INotifier& notifier) noexcept : m_previous(g_notifier.exchange(&notifier)) {}
ScopedNotifier::~ScopedNotifier() { g_notifier.store(m_previous); }

IDebugOutput& DebugOutput() noexcept
{
    IDebugOutput* installed = g_debugOutput.load();
    return installed ? *installed : DefaultDebugOutput();
}

ScopedDebugOutput::ScopedDebugOutput(IDebugOutput& output) noexcept : m_previous(g_debugOutput.exchange(&output)) {}
ScopedDebugOutput::~ScopedDebugOutput() { g_debugOutput.store(m_previous); }

IEventLog& EventLog() noexcept
{
    static DroppedEvents dropped;
    IEventLog* installed = g_eventLog.load();
    return installed ? *installed : dropped;
}

ScopedEventLog::ScopedEventLog(IEventLog& log) noexcept : m_previous(g_eventLog.exchange(&log)) {}
ScopedEventLog::~ScopedEventLog() { g_eventLog.store(m_previous); }

} // namespace ovled::platform
