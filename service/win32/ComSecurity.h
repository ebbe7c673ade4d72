// The process's COM security (service/AccessPolicy.h): who may call in, how far servers we call may act
// as us, and which of COM's dangerous conveniences the process refuses. Set once, by the process entry,
// before the process makes or takes its first COM call (CoInitializeSecurity cannot be set later, and
// without it the machine's defaults decide). Main thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace ovled::win32 {

struct ComSecuritySettings {
    std::vector<std::uint8_t> accessDescriptor; // self-relative; who may call
    DWORD authenticationLevel = 0;
    DWORD impersonationLevel = 0;
    DWORD capabilities = 0;
};

// Calls in: the AppID's AccessPermission under HKEY_LOCAL_MACHINE (where an administrator narrows the
// policy, e.g. with dcomcnfg) when it holds a valid descriptor with an owner, a group and a DACL, else
// the built-in policy. Calls out: identify level only, so neither the firmware server nor an object a
// caller passes can act as LocalSystem. No custom marshalling (an argument could otherwise name any
// in-process class to be loaded into the service) and no activate-as-activator launches (a server so
// launched would run as LocalSystem; the firmware's activation asks for it explicitly).
ComSecuritySettings ProcessComSecurity();

// CoInitializeSecurity with `settings` (the descriptor made absolute, as COM wants it). COM must be
// initialised on the calling thread.
HRESULT ApplyComSecurity(const ComSecuritySettings& settings) noexcept;

} // namespace ovled::win32
