// Who may reach the service through COM, written once as SDDL: local callers that are SYSTEM,
// administrators or interactive users may launch and call it; nobody may do either from another machine.
// The same policy is the process's COM security (service/win32/ComSecurity.h) and the AppID's
// AccessPermission and LaunchPermission, which registration and the installer package write as binary
// self-relative security descriptors (so an administrator can narrow it with dcomcnfg). Pure data and
// functions; any thread.
#pragma once

#include "service/RegistryPlan.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace ovled::service {

// COM's rights in a launch or access descriptor: 0x1 execute, 0x2 execute locally, 0x4 execute remotely,
// 0x8 activate locally, 0x10 activate remotely. Owner and group are the administrators (COM wants both).
// Calls: execute locally (0x3). Launch and activation: execute and activate locally (0xB).
inline constexpr std::wstring_view kAccessPermissionSddl = L"O:BAG:BAD:(A;;0x3;;;SY)(A;;0x3;;;BA)(A;;0x3;;;IU)";
inline constexpr std::wstring_view kLaunchPermissionSddl = L"O:BAG:BAD:(A;;0xB;;;SY)(A;;0xB;;;BA)(A;;0xB;;;IU)";
// Calls when the AppID holds an access value that cannot be used: SYSTEM and the administrators only.
inline constexpr std::wstring_view kAdministratorsAccessSddl = L"O:BAG:BAD:(A;;0x3;;;SY)(A;;0x3;;;BA)";

// The installation folder (set by the installer package, whatever folder it is told to use): owned by the
// administrators, who may change it, as may LocalSystem; users may read and run what is in it (0x1200a9:
// read and execute). Protected: nothing is inherited from a parent that others may write.
inline constexpr std::wstring_view kInstallFolderSddl = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

inline constexpr std::wstring_view kAccessPermissionValue = L"AccessPermission";
inline constexpr std::wstring_view kLaunchPermissionValue = L"LaunchPermission";

// The self-relative security descriptor that Windows makes of `sddl` (header, owner, group, DACL, in that
// order, little-endian), for the form the policy takes: "O:", "G:" and "D:" with allow entries of a hex
// mask, and the accounts SY, BA, IU, BU, AU. Anything else throws std::invalid_argument. Portable, so
// that the installer's tables are written on the build host from the same text.
std::vector<std::uint8_t> SelfRelativeDescriptor(std::wstring_view sddl);

// The AppID's AccessPermission and LaunchPermission values.
std::vector<RegistryValue> AppIdPolicyValues();

} // namespace ovled::service
