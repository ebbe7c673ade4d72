#include "service/Registration.h"

#include "service/AccessPolicy.h"
#include "service/Identifiers.h"

namespace ovled::service {

std::wstring AppIdKeyPath()
{
    return L"AppID\\" + std::wstring(kAppId);
}

HResult Registration::RegisterAppKey(bool asService)
{
    IRegistryEditor& classes = m_parts.machineClasses;
    const std::wstring appIdKey = AppIdKeyPath();
    if (m_parts.service.UninstallService() && !m_parts.modulePath.empty() &&
        classes.CreateKey(appIdKey) == kErrorSuccess) {
        (void)classes.DeleteValue(appIdKey, std::wstring(kLocalServiceValue));
        for (const auto& value : AppIdPolicyValues())
            (void)classes.SetValue(appIdKey, value);
        if (asService) {
            (void)classes.SetString(appIdKey, std::wstring(kLocalServiceValue), m_parts.serviceName);
            (void)m_parts.service.InstallService();
        }
    }
    if (!m_parts.modulePath.empty())
        (void)ApplyPlan(m_parts.machine, EventSourcePlan(m_parts.modulePath, m_parts.serviceName));
    m_parts.service.ReconfigureService();
    return kSOk;
}

HResult Registration::UnregisterAppKey()
{
    if (!m_parts.service.UninstallService())
        return kEFail;
    IRegistryEditor& classes = m_parts.machineClasses;
    const std::wstring appIdKey = AppIdKeyPath();
    // Opened for writing, not merely found: a user who may not change the machine's key must not be
    // told that the service registration is gone while "LocalService" stays.
    if (const long error = classes.OpenForWriting(appIdKey))
        return HresultFromWin32(error);
    for (const auto name : {kLocalServiceValue, kAccessPermissionValue, kLaunchPermissionValue}) {
        const long deleted = classes.DeleteValue(appIdKey, std::wstring(name));
        if (deleted != kErrorSuccess && deleted != kErrorFileNotFound)
            return HresultFromWin32(deleted);
    }
    if (const long error = RemovePlan(m_parts.machine, EventSourcePlan(m_parts.modulePath, m_parts.serviceName)))
        return HresultFromWin32(error);
    return m_parts.modulePath.empty() ? m_parts.modulePathError : kSOk;
}

HResult Registration::RegisterClasses(bool withTypeLibrary)
{
    if (m_parts.modulePath.empty())
        return m_parts.modulePathError;
    if (const long error = ApplyPlan(ClassRoot(), ServerClassesPlan(m_parts.modulePath)))
        return HresultFromWin32(error);
    return withTypeLibrary ? m_parts.typeLibrary.Register(m_perUser) : kSOk;
}

HResult Registration::UnregisterClasses(bool withTypeLibrary)
{
    if (m_parts.modulePath.empty())
        return m_parts.modulePathError;
    if (const long error = RemovePlan(ClassRoot(), ServerClassesPlan(m_parts.modulePath)))
        return HresultFromWin32(error);
    return withTypeLibrary ? m_parts.typeLibrary.Unregister(m_perUser) : kSOk;
}

HResult Registration::RegisterTypeLibrary()
{
    if (m_parts.modulePath.empty())
        return m_parts.modulePathError;
    return m_parts.typeLibrary.Register(m_perUser);
}

HResult Registration::UnregisterTypeLibrary()
{
    if (m_parts.modulePath.empty())
        return m_parts.modulePathError;
    return m_parts.typeLibrary.Unregister(m_perUser);
}

} // namespace ovled::service
