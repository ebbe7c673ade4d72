#include "service/win32/ComSecurity.h"

#include "service/AccessPolicy.h"
#include "service/Identifiers.h"

#include <objbase.h>

#include <cstring>
#include <optional>
#include <string>

namespace ovled::win32 {
namespace {

// Whether the owner, group and DACL that a self-relative descriptor points to lie inside its bytes, so
// that reading them cannot run past the value.
bool PartsInside(const std::vector<std::uint8_t>& bytes)
{
    SECURITY_DESCRIPTOR_RELATIVE header{};
    std::memcpy(&header, bytes.data(), sizeof(header));
    if (!(header.Control & SE_SELF_RELATIVE))
        return false;
    const auto sidInside = [&](DWORD offset) {
        return offset >= sizeof(header) && offset + 8 <= bytes.size() &&
               offset + 8 + 4 * std::size_t{bytes[offset + 1]} <= bytes.size();
    };
    const auto aclInside = [&](DWORD offset) {
        return offset >= sizeof(header) && offset + sizeof(ACL) <= bytes.size() &&
               offset + (bytes[offset + 2] | bytes[offset + 3] << 8) <= bytes.size();
    };
    return sidInside(header.Owner) && sidInside(header.Group) && aclInside(header.Dacl) &&
           (header.Sacl == 0 || aclInside(header.Sacl));
}

// A descriptor COM can take as the process's access check: valid, with an owner, a group and a DACL
// (an absent or null DACL would let everyone call).
bool UsableAccessDescriptor(const std::vector<std::uint8_t>& bytes)
{
    auto* descriptor = const_cast<std::uint8_t*>(bytes.data());
    if (bytes.size() < sizeof(SECURITY_DESCRIPTOR_RELATIVE) || !PartsInside(bytes) ||
        !IsValidSecurityDescriptor(descriptor) || GetSecurityDescriptorLength(descriptor) > bytes.size())
        return false;
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    return GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner &&
           GetSecurityDescriptorGroup(descriptor, &group, &defaulted) && group &&
           GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present && dacl;
}

// The AppID's AccessPermission: nothing when there is none; empty when there is one that cannot be read.
std::optional<std::vector<std::uint8_t>> AdministratorsAccessPermission()
{
    const std::wstring key = L"SOFTWARE\\Classes\\AppID\\" + std::wstring(service::kAppId);
    const std::wstring name(service::kAccessPermissionValue);
    DWORD size = 0;
    const LSTATUS found =
        RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_BINARY, nullptr, nullptr, &size);
    if (found == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    if (found != ERROR_SUCCESS)
        return std::vector<std::uint8_t>{};
    std::vector<std::uint8_t> bytes(size);
    const LSTATUS read = RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_BINARY, nullptr,
                                      bytes.data(), &size);
    if (read == ERROR_FILE_NOT_FOUND)
        return std::nullopt; // removed since the first look
    if (read != ERROR_SUCCESS)
        return std::vector<std::uint8_t>{}; // changed since the first look: unusable, so narrowed
    bytes.resize(size);
    return bytes;
}

} // namespace

ComSecuritySettings ProcessComSecurity()
{
    ComSecuritySettings settings;
    const auto chosen = AdministratorsAccessPermission();
    if (!chosen)
        settings.accessDescriptor = service::SelfRelativeDescriptor(service::kAccessPermissionSddl);
    else if (UsableAccessDescriptor(*chosen))
        settings.accessDescriptor = *chosen;
    else // an administrator's choice that cannot be used narrows to the administrators, never widens
        settings.accessDescriptor = service::SelfRelativeDescriptor(service::kAdministratorsAccessSddl);
    settings.authenticationLevel = RPC_C_AUTHN_LEVEL_PKT_PRIVACY;
    settings.impersonationLevel = RPC_C_IMP_LEVEL_IDENTIFY;
    settings.capabilities = EOAC_NO_CUSTOM_MARSHAL | EOAC_DISABLE_AAA;
    return settings;
}

HRESULT ApplyComSecurity(const ComSecuritySettings& settings) noexcept
{
    try {
        std::vector<std::uint8_t> relative = settings.accessDescriptor;
        if (!UsableAccessDescriptor(relative))
            return E_INVALIDARG;
        SECURITY_DESCRIPTOR absolute{};
        DWORD absoluteSize = sizeof(absolute);
        DWORD daclSize = 0;
        DWORD saclSize = 0;
        DWORD ownerSize = 0;
        DWORD groupSize = 0;
        MakeAbsoluteSD(relative.data(), &absolute, &absoluteSize, nullptr, &daclSize, nullptr, &saclSize, nullptr,
                       &ownerSize, nullptr, &groupSize);
        // The absolute form points into these; they live until CoInitializeSecurity has copied it.
        std::vector<std::uint8_t> dacl(daclSize), sacl(saclSize), owner(ownerSize), group(groupSize);
        if (!MakeAbsoluteSD(relative.data(), &absolute, &absoluteSize, reinterpret_cast<PACL>(dacl.data()), &daclSize,
                            reinterpret_cast<PACL>(sacl.data()), &saclSize, owner.data(), &ownerSize, group.data(),
                            &groupSize))
            return HRESULT_FROM_WIN32(GetLastError());
        return CoInitializeSecurity(&absolute, -1, nullptr, nullptr, settings.authenticationLevel,
                                    settings.impersonationLevel, nullptr, settings.capabilities, nullptr);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

} // namespace ovled::win32
