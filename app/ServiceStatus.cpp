#include "app/ServiceStatus.h"

#include <cstdint>

namespace ovled::app {
namespace {

constexpr std::uint32_t kClassNotRegistered = 0x80040154u; // REGDB_E_CLASSNOTREG
constexpr std::uint32_t kAccessDenied = 0x80070005u;       // E_ACCESSDENIED
constexpr std::uint32_t kCallCanceled = 0x80010002u;       // RPC_E_CALL_CANCELED
constexpr std::uint32_t kTimeout = 0x8001011Fu;            // RPC_E_TIMEOUT
constexpr std::uint32_t kServerExecFailure = 0x80080005u;  // CO_E_SERVER_EXEC_FAILURE
constexpr std::uint32_t kServiceDisabled = 0x80070422u;    // ERROR_SERVICE_DISABLED
constexpr std::uint32_t kServiceNotActive = 0x80070426u;   // ERROR_SERVICE_NOT_ACTIVE

} // namespace

ServiceStatus StatusFromServiceState(ServiceState state) noexcept
{
    switch (state) {
    case ServiceState::Running:
    case ServiceState::Unknown:
        return ServiceStatus::Connecting;
    case ServiceState::StartPending:
        return ServiceStatus::Starting;
    case ServiceState::StopPending:
    case ServiceState::Stopped:
        return ServiceStatus::Stopped;
    case ServiceState::NotInstalled:
        return ServiceStatus::NotInstalled;
    }
    return ServiceStatus::Connecting;
}

bool MayConnect(ServiceState state) noexcept
{
    return state == ServiceState::Running || state == ServiceState::Unknown || state == ServiceState::NotInstalled;
}

ServiceStatus StatusFromFailure(HResult failure, ServiceState state) noexcept
{
    switch (static_cast<std::uint32_t>(failure)) {
    case kAccessDenied:
        return ServiceStatus::AccessDenied;
    case kCallCanceled:
    case kTimeout:
        return ServiceStatus::NotAnswering;
    case kClassNotRegistered:
        // A service of an older version is installed but serves no Lighting class: it needs the
        // package of this app, like a machine without the service.
        return ServiceStatus::NotInstalled;
    case kServerExecFailure:
    case kServiceDisabled:
    case kServiceNotActive:
        return state == ServiceState::StartPending ? ServiceStatus::Starting : ServiceStatus::Stopped;
    default:
        break;
    }
    if (ServerWentAway(failure)) {
        // Killed or restarting: the control manager knows which. A service that is still "running"
        // after its server went away is about to be restarted (or is a local server that ended).
        const ServiceStatus status = StatusFromServiceState(state);
        return status == ServiceStatus::NotInstalled ? ServiceStatus::Stopped : status;
    }
    return ServiceStatus::Failed;
}

} // namespace ovled::app
