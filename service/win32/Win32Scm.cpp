#include "service/win32/Win32Scm.h"

#include "platform/win32/Unique.h"

namespace ovled::win32 {
namespace {

// A double-terminated list.
std::wstring MultiString(const std::vector<std::wstring>& items)
{
    std::wstring list;
    for (const auto& item : items)
        list += item + L'\0';
    return list + L'\0';
}

class Service final : public service::IScmService {
public:
    explicit Service(UniqueServiceHandle handle) : m_handle(std::move(handle)) {}

    service::StopOutcome Stop() override
    {
        SERVICE_STATUS status{};
        if (ControlService(m_handle.get(), SERVICE_CONTROL_STOP, &status))
            return {true, 0, status.dwCurrentState};
        return {false, static_cast<long>(GetLastError()), status.dwCurrentState};
    }
    bool Delete() override { return DeleteService(m_handle.get()) != FALSE; }

private:
    UniqueServiceHandle m_handle;
};

class Connection final : public service::IScmConnection {
public:
    explicit Connection(UniqueServiceHandle manager) : m_manager(std::move(manager)) {}

    bool ServiceExists(const std::wstring& name) override
    {
        return static_cast<bool>(
            UniqueServiceHandle(OpenServiceW(m_manager.get(), name.c_str(), SERVICE_QUERY_CONFIG)));
    }

    bool Create(const service::ServiceConfig& config) override
    {
        const std::wstring dependencies = MultiString(config.dependencies);
        return static_cast<bool>(UniqueServiceHandle(
            CreateServiceW(m_manager.get(), config.name.c_str(), config.name.c_str(), SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, config.startType, config.errorControl, config.binaryPath.c_str(),
                           nullptr, nullptr, dependencies.c_str(), nullptr, nullptr)));
    }

    std::unique_ptr<service::IScmService> OpenForRemoval(const std::wstring& name) override
    {
        UniqueServiceHandle handle(OpenServiceW(m_manager.get(), name.c_str(), SERVICE_STOP | DELETE));
        if (!handle)
            return nullptr;
        return std::make_unique<Service>(std::move(handle));
    }

    bool Reconfigure(const std::wstring& name, const std::vector<std::wstring>& dependencies,
                     const std::wstring& description, const service::ServiceRecovery& recovery) override
    {
        // Restart actions need the right to start the service as well.
        UniqueServiceHandle handle(OpenServiceW(m_manager.get(), name.c_str(), SERVICE_CHANGE_CONFIG | SERVICE_START));
        if (!handle)
            return false;
        // The dependencies are passed as they were installed, which changes nothing; Wine would
        // otherwise drop them.
        const std::wstring unchanged = MultiString(dependencies);
        if (!ChangeServiceConfigW(handle.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                                  nullptr, nullptr, nullptr, unchanged.c_str(), nullptr, nullptr, nullptr))
            return false;
        std::wstring text = description;
        SERVICE_DESCRIPTIONW info{text.data()};
        if (!ChangeServiceConfig2W(handle.get(), SERVICE_CONFIG_DESCRIPTION, &info))
            return false;
        std::vector<SC_ACTION> actions;
        for (const auto& action : recovery.actions)
            actions.push_back({static_cast<SC_ACTION_TYPE>(action.kind), action.delayMs});
        // No reboot message and no command: only restarts. (Wine accepts and ignores this.)
        SERVICE_FAILURE_ACTIONSW failure{recovery.resetPeriodSeconds, nullptr, nullptr,
                                         static_cast<DWORD>(actions.size()), actions.data()};
        return ChangeServiceConfig2W(handle.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure) != FALSE;
    }

private:
    UniqueServiceHandle m_manager;
};

} // namespace

std::unique_ptr<service::IScmConnection> Win32Scm::Connect()
{
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return nullptr;
    return std::make_unique<Connection>(std::move(manager));
}

} // namespace ovled::win32
