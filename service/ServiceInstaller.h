// The Windows service of this program: whether it is installed, its installation with the fixed
// installation values, its removal, and the reconfiguration to automatic start. Failures that an
// installing user must see go to the platform notifier (a message box when someone is there to read
// it). The service control manager is reached through IScm. Used on the main thread of registration runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ovled::service {

inline constexpr std::uint32_t kServiceDemandStart = 3;
inline constexpr std::uint32_t kServiceAutoStart = 2;
inline constexpr std::uint32_t kServiceErrorNormal = 1;
inline constexpr long kErrorServiceCannotAcceptControl = 1061;
inline constexpr long kErrorServiceNotActive = 1062;

// The texts of the service-manager messages.
inline constexpr std::wstring_view kMessageNoManager = L"Could not open Service Manager";
inline constexpr std::wstring_view kMessageNotCreated = L"Could not start service";
inline constexpr std::wstring_view kMessageNotOpened = L"Could not open service";
inline constexpr std::wstring_view kMessageNotDeleted = L"Could not delete service";
inline constexpr std::wstring_view kMessageNotStopped = L"Could not stop service";

struct ServiceConfig {
    std::wstring name;       // also the display name
    std::wstring binaryPath; // the executable in double quotes, no arguments
    std::uint32_t startType = kServiceDemandStart;
    std::uint32_t errorControl = kServiceErrorNormal;
    std::vector<std::wstring> dependencies;
};

// What the service control manager does when the service's process ends without having reported
// stopped (a crash): start it again after 5 s, and after 60 s the second time; after that leave it
// (something is wrong that a restart does not mend). A day without a failure counts from the first again.
struct FailureAction {
    enum class Kind : std::uint32_t { None = 0, Restart = 1 }; // SC_ACTION_NONE, SC_ACTION_RESTART
    Kind kind = Kind::None;
    std::uint32_t delayMs = 0;
};
struct ServiceRecovery {
    std::uint32_t resetPeriodSeconds = 0;
    std::vector<FailureAction> actions;
};
ServiceRecovery Recovery();

struct StopOutcome {
    bool stopped = false;    // the stop request was accepted
    long error = 0;          // when not: the error
    std::uint32_t state = 0; // the service's state as the failed request returned it
};

// An installed service, opened for stopping and deleting.
class IScmService {
public:
    virtual ~IScmService() = default;
    virtual StopOutcome Stop() = 0;
    virtual bool Delete() = 0;
};

// An open connection to the service control manager (all access).
class IScmConnection {
public:
    virtual ~IScmConnection() = default;
    virtual bool ServiceExists(const std::wstring& name) = 0;
    virtual bool Create(const ServiceConfig& config) = 0;
    virtual std::unique_ptr<IScmService> OpenForRemoval(const std::wstring& name) = 0;
    // Own process, automatic start, error control unchanged, the dependencies as they were installed;
    // then the description, then the recovery. False at the first step that fails.
    virtual bool Reconfigure(const std::wstring& name, const std::vector<std::wstring>& dependencies,
                             const std::wstring& description, const ServiceRecovery& recovery) = 0;
};

class IScm {
public:
    virtual ~IScm() = default;
    // Null when the service control manager cannot be opened.
    virtual std::unique_ptr<IScmConnection> Connect() = 0;
};

class IServiceInstaller {
public:
    virtual ~IServiceInstaller() = default;
    virtual bool IsServiceInstalled() = 0;
    virtual bool InstallService() = 0;
    virtual bool UninstallService() = 0;
    // Makes the service start automatically and gives it its description and its recovery; failures end
    // it silently.
    virtual void ReconfigureService() = 0;
};

// The executable's full path, or nothing when it cannot be obtained.
using ModulePathSource = std::function<std::optional<std::wstring>()>;

class ServiceInstaller final : public IServiceInstaller {
public:
    ServiceInstaller(IScm& scm, std::wstring serviceName, ModulePathSource modulePath);

    bool IsServiceInstalled() override;
    bool InstallService() override;
    // Asks a running service to stop (without waiting for it) and deletes it.
    bool UninstallService() override;
    void ReconfigureService() override;

private:
    static std::vector<std::wstring> Dependencies();
    void ShowServiceError(std::wstring_view text);

    IScm& m_scm;
    const std::wstring m_serviceName;
    const ModulePathSource m_modulePath;
};

} // namespace ovled::service
