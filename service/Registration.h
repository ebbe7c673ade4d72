// Registration: what the command-line switches write and remove. The AppID key (always under the
// machine's class root) with its "LocalService" value and the COM access policy, the Windows service, the
// event source of the Application log, the LightControl class keys (under the machine's class root, or
// the user's in per-user mode) and the type library.
// Used once, on the main thread of a registration run.
#pragma once

#include "platform/Hresult.h"
#include "service/CommandLine.h"
#include "service/RegistryPlan.h"
#include "service/ServiceInstaller.h"

#include <string>

namespace ovled::service {

class ITypeLibraryRegistrar {
public:
    virtual ~ITypeLibraryRegistrar() = default;
    virtual HResult Register(bool perUser) = 0;
    virtual HResult Unregister(bool perUser) = 0;
};

// The AppID key, relative to the class root.
std::wstring AppIdKeyPath();

class Registration final : public ISwitchActions {
public:
    struct Parts {
        IRegistryEditor& machineClasses; // HKEY_CLASSES_ROOT
        IRegistryEditor& userClasses;    // HKEY_CURRENT_USER\Software\Classes
        IRegistryEditor& machine;        // HKEY_LOCAL_MACHINE
        IServiceInstaller& service;
        ITypeLibraryRegistrar& typeLibrary;
        std::wstring serviceName;
        std::wstring modulePath; // empty when the executable's path could not be obtained
        HResult modulePathError = kEFail;
    };
    explicit Registration(Parts parts) : m_parts(std::move(parts)) {}

    void SetPerUser() override { m_perUser = true; }
    bool PerUser() const noexcept { return m_perUser; }

    // Removes an installed service, writes the access policy, rewrites "LocalService" (present only as a
    // service) and, as a service, installs the service anew; registers the event source; then makes the
    // service start automatically and restart after a crash. Reports its failures through the notifier
    // and always answers S_OK.
    HResult RegisterAppKey(bool asService) override;
    // Removes the service, the "LocalService" value, the access policy and the event source; the AppID
    // key stays. E_FAIL, with the values left in place, when the service cannot be removed; the registry's
    // error when the AppID key is missing or a value cannot be removed (0x80070005 for a user who may not
    // write the key).
    HResult UnregisterAppKey() override;
    HResult RegisterClasses(bool withTypeLibrary) override;
    HResult UnregisterClasses(bool withTypeLibrary) override;
    HResult RegisterTypeLibrary() override;
    HResult UnregisterTypeLibrary() override;

private:
    IRegistryEditor& ClassRoot() noexcept { return m_perUser ? m_parts.userClasses : m_parts.machineClasses; }

    Parts m_parts;
    bool m_perUser = false;
};

} // namespace ovled::service
