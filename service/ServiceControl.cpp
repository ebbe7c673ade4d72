#include "service/ServiceControl.h"

#include "platform/EventIds.h"

namespace ovled::service {

ComInitOutcome ClassifyComInit(HResult result, bool mscoreeLoaded) noexcept
{
    if (Succeeded(result))
        return ComInitOutcome::Initialized;
    if (result == kRpcEChangedMode && mscoreeLoaded)
        return ComInitOutcome::UseExisting;
    return ComInitOutcome::Failed;
}

void ServiceController::ServiceEntry()
{
    m_state.store(kServiceStartPending); // not reported until the handler is in place
    m_serviceThreadId.store(m_host.CurrentThreadId());
    m_host.PrepareMessageQueue();
    if (!m_host.RegisterControlHandler()) {
        LogServiceEvent(events::kHandlerNotInstalled, kEventHandlerNotInstalled);
        return;
    }
    {
        std::lock_guard lock(m_reportMutex);
        // A stop that came while the handler was being registered stays in force: only a state that
        // is still start-pending is reported as such.
        if (m_state.load() == kServiceStartPending)
            m_host.ReportStatus(RecordLocked());
        m_fields.win32ExitCode = 0;
        m_fields.checkPoint = 0;
        m_fields.waitHint = 0;
    }

    const HResult comResult = m_host.InitializeCom();
    const ComInitOutcome com = ClassifyComInit(comResult, comResult == kRpcEChangedMode && m_host.IsMscoreeLoaded());
    // Without COM there is nothing to serve: the service stops with the failure as its exit code
    // instead of being left start-pending for good.
    const HResult result = com == ComInitOutcome::Failed ? comResult : m_host.RunServer();
    {
        std::lock_guard lock(m_reportMutex);
        m_fields.win32ExitCode = static_cast<std::uint32_t>(result);
    }
    if (com == ComInitOutcome::Initialized)
        m_host.UninitializeCom();
    // Logged before the report: once stopped is reported the dispatcher returns and the process may
    // end at any moment, taking a later event with it.
    LogServiceEvent(events::kServiceStopped, kEventStopped);
    SetServiceState(kServiceStopped);
}

void ServiceController::ControlHandler(std::uint32_t control)
{
    if (control == kControlStop)
        RequestStop();
    else if (control >= kFirstUserControl && control <= kLastUserControl) {
        if (UserControlMayBeLogged())
            LogServiceEvent(events::kBadServiceRequest, kEventBadRequest);
    } else if (control == 0 || (control > kControlShutdown && control != kControlPowerEvent &&
                                 control != kControlSessionChange))
        LogServiceEvent(events::kBadServiceRequest, kEventBadRequest);
}

bool ServiceController::UserControlMayBeLogged()
{
    const auto now = m_clock.Now();
    std::lock_guard lock(m_userControlMutex);
    if (m_userControlLogged && now - *m_userControlLogged < kUserControlLogInterval)
        return false;
    m_userControlLogged = now;
    return true;
}

void ServiceController::RequestStop()
{
    SetServiceState(kServiceStopPending);
    m_host.PostQuit(m_serviceThreadId.load());
}

void ServiceController::SetServiceState(std::uint32_t state)
{
    std::lock_guard lock(m_reportMutex);
    m_state.exchange(state);
    m_host.ReportStatus(RecordLocked());
}

void ServiceController::ReportRunning()
{
    std::lock_guard lock(m_reportMutex);
    std::uint32_t expected = kServiceStartPending;
    if (!m_state.compare_exchange_strong(expected, kServiceRunning))
        return;
    LogServiceEvent(events::kServiceStarted, kEventStarted);
    m_host.ReportStatus(RecordLocked());
}

void ServiceController::LogServiceEvent(std::uint32_t id, std::wstring_view message)
{
    m_host.LogEvent(id, message.substr(0, kEventTextLimit));
}

ServiceStatusRecord ServiceController::Status() const
{
    std::lock_guard lock(m_reportMutex);
    return RecordLocked();
}

std::uint32_t ServiceController::Win32ExitCode() const
{
    std::lock_guard lock(m_reportMutex);
    return m_fields.win32ExitCode;
}

ServiceStatusRecord ServiceController::RecordLocked() const
{
    ServiceStatusRecord record = m_fields;
    record.currentState = m_state.load();
    return record;
}

} // namespace ovled::service
