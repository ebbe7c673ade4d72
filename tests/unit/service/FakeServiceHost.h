// A fake of the service entry's system seam: records every call in order. PostQuit stands for the
// quit message: WaitForQuit (the fake message loop) returns once it was posted, also when it was
// posted before the loop began.
#pragma once

#include "platform/Event.h"
#include "service/ServiceControl.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ovled::service::test {

inline constexpr std::uint32_t kServiceThread = 42;

inline std::string Narrow(std::wstring_view text)
{
    return std::string(text.begin(), text.end());
}

class FakeServiceHost final : public IServiceHost {
public:
    std::uint32_t CurrentThreadId() override { return kServiceThread; }
    void PrepareMessageQueue() override { Add("queue"); }
    bool RegisterControlHandler() override
    {
        Add("handler");
        if (onHandlerRegistered)
            onHandlerRegistered();
        return handlerRegistered;
    }
    void ReportStatus(const ServiceStatusRecord& status) override
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back("status " + std::to_string(status.currentState) + " exit " +
                          std::to_string(static_cast<HResult>(status.win32ExitCode)));
        m_states.push_back(status.currentState);
        EXPECT_EQ(status.serviceType, kServiceWin32OwnProcess);
        EXPECT_EQ(status.controlsAccepted, kServiceAccepted);
        EXPECT_EQ(status.checkPoint, 0u);
        EXPECT_EQ(status.waitHint, 0u);
    }
    void LogEvent(std::uint32_t id, std::wstring_view text) override
    {
        Add("event " + Narrow(text));
        std::lock_guard lock(m_mutex);
        m_events.emplace_back(text);
        m_eventIds.push_back(id);
    }
    void PostQuit(std::uint32_t threadId) override
    {
        Add("quit to " + std::to_string(threadId));
        m_quit.Set();
    }
    HResult InitializeCom() override
    {
        Add("com init");
        return comResult;
    }
    bool IsMscoreeLoaded() override { return mscoreeLoaded; }
    void UninitializeCom() override { Add("com uninit"); }
    HResult RunServer() override
    {
        Add("run");
        return run ? run() : kSOk;
    }

    bool WaitForQuit() { return m_quit.WaitFor(std::chrono::seconds(10)); }
    std::vector<std::string> Calls()
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    std::vector<std::uint32_t> ReportedStates()
    {
        std::lock_guard lock(m_mutex);
        return m_states;
    }
    std::vector<std::wstring> Events()
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<std::uint32_t> EventIds()
    {
        std::lock_guard lock(m_mutex);
        return m_eventIds;
    }

    bool handlerRegistered = true;
    HResult comResult = kSOk;
    bool mscoreeLoaded = false;
    std::function<HResult()> run;
    // Runs as the service control manager would once the handler is known to it.
    std::function<void()> onHandlerRegistered;

private:
    void Add(std::string call)
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }

    std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::vector<std::uint32_t> m_states;
    std::vector<std::wstring> m_events;
    std::vector<std::uint32_t> m_eventIds;
    platform::AutoResetEvent m_quit;
};

} // namespace ovled::service::test
