#include "service/ServiceInstaller.h"

#include "platform/Notifier.h"
#include "service/Identifiers.h"
#include "service/ServiceControl.h"

namespace ovled::service {

ServiceRecovery Recovery()
{
    using Kind = FailureAction::Kind;
    return {24 * 60 * 60, {{Kind::Restart, 5000}, {Kind::Restart, 60000}, {Kind::None, 0}}};
}

ServiceInstaller::ServiceInstaller(IScm& scm, std::wstring serviceName, ModulePathSource modulePath)
    : m_scm(scm), m_serviceName(std::move(serviceName)), m_modulePath(std::move(modulePath))
{
}

bool ServiceInstaller::IsServiceInstalled()
{
    const auto connection = m_scm.Connect();
    return connection && connection->ServiceExists(m_serviceName);
}

bool ServiceInstaller::InstallService()
{
    if (IsServiceInstalled())
        return true;
    const std::optional<std::wstring> path = m_modulePath();
    if (!path)
        return false;

    const auto connection = m_scm.Connect();
    if (!connection) {
        ShowServiceError(kMessageNoManager);
        return false;
    }
    ServiceConfig config;
    config.name = m_serviceName;
    config.binaryPath = L"\"" + *path + L"\"";
    config.dependencies = Dependencies();
    if (!connection->Create(config)) {
        ShowServiceError(kMessageNotCreated);
        return false;
    }
    return true;
}

bool ServiceInstaller::UninstallService()
{
    if (!IsServiceInstalled())
        return true;
    const auto connection = m_scm.Connect();
    if (!connection) {
        ShowServiceError(kMessageNoManager);
        return false;
    }
    const auto service = connection->OpenForRemoval(m_serviceName);
    if (!service) {
        ShowServiceError(kMessageNotOpened);
        return false;
    }
    const StopOutcome stop = service->Stop();
    const bool alreadyStopping = stop.error == kErrorServiceNotActive ||
                                 (stop.error == kErrorServiceCannotAcceptControl && stop.state == kServiceStopPending);
    if (!stop.stopped && !alreadyStopping)
        ShowServiceError(kMessageNotStopped);
    if (!service->Delete()) {
        ShowServiceError(kMessageNotDeleted);
        return false;
    }
    return true;
}

void ServiceInstaller::ReconfigureService()
{
    if (const auto connection = m_scm.Connect())
        (void)connection->Reconfigure(m_serviceName, Dependencies(), std::wstring(kServiceDescription), Recovery());
}

std::vector<std::wstring> ServiceInstaller::Dependencies()
{
    return {std::wstring(kServiceDependency)};
}

void ServiceInstaller::ShowServiceError(std::wstring_view text)
{
    platform::Notifier().Notify(text, m_serviceName);
}

} // namespace ovled::service
