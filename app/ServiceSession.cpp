#include "app/ServiceSession.h"

namespace ovled::app {
namespace {

// What a change that found no service is refused with when the service's own answer says nothing (the
// control manager said stopped or starting).
constexpr HResult kServiceNotActive = HresultFromWin32(1062); // ERROR_SERVICE_NOT_ACTIVE

} // namespace

bool ServiceSession::EnsureConnected(Clock::time_point now)
{
    if (m_service)
        return true;
    if (now < m_nextAttempt)
        return false;
    m_nextAttempt = now + kRetryPeriod;
    const ServiceState state = m_connector.QueryServiceState();
    if (!MayConnect(state)) {
        m_snapshot.status = StatusFromServiceState(state);
        m_snapshot.failure = kSOk;
        return false;
    }
    const HResult connected = m_connector.Connect(m_service);
    if (!Succeeded(connected) || !m_service) {
        m_service.reset();
        m_snapshot.status = StatusFromFailure(connected, state);
        m_snapshot.failure = connected;
        if (!ServerWentAway(connected))
            m_nextAttempt = now + kFailedActivationRetryPeriod;
        return false;
    }
    m_readAll = true;
    return true;
}

void ServiceSession::Fail(HResult failure)
{
    const bool gone = ServerWentAway(failure);
    const ServiceState state = gone ? m_connector.QueryServiceState() : ServiceState::Running;
    m_snapshot.status = StatusFromFailure(failure, state);
    m_snapshot.failure = failure;
    // A server that went away, or one that refuses this account, is looked for again later; any other
    // failure (a strip count that changed while it was read, say) is read again in the next round.
    if (gone || m_snapshot.status == ServiceStatus::AccessDenied)
        m_service.reset();
    m_readAll = true;
}

void ServiceSession::Round(const std::vector<Command>& commands, bool colours, bool full, Clock::time_point now)
{
    if (!EnsureConnected(now)) {
        // Changes are not kept for a service that comes back later: the person sees that this one failed.
        if (!commands.empty())
            m_snapshot.refused = Succeeded(m_snapshot.failure) ? kServiceNotActive : m_snapshot.failure;
        return;
    }
    for (const Command& command : commands) {
        const HResult result = ApplyCommand(*m_service, command);
        m_snapshot.refused = result;
        if (ServerWentAway(result)) {
            Fail(result); // the changes after this one are dropped with it
            return;
        }
        m_readAll = true;
    }
    // The count before anything else: a full read keeps it, so a change made while the rest is read shows
    // as a newer count at the next look.
    std::int32_t changeCount = 0;
    HResult result = m_service->ChangeCount(changeCount);
    if (Succeeded(result)) {
        if (full || m_readAll || !m_snapshot.known || changeCount != m_snapshot.state.changeCount)
            result = ReadLightingState(*m_service, changeCount, m_snapshot.state);
        else if (colours)
            result = ReadColours(*m_service, m_snapshot.state);
    }
    if (!Succeeded(result)) {
        Fail(result);
        return;
    }
    m_readAll = false;
    m_snapshot.known = true;
    m_snapshot.status = ServiceStatus::Running;
    m_snapshot.failure = kSOk;
}

} // namespace ovled::app
