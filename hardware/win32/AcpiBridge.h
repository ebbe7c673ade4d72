// The ACPI automation bridge: the eight firmware operations as free functions over the board maker's
// automation server ("bivorCom.axdata", late-bound IDispatch). Every call creates its own server
// instance, invokes one method by name, copies the results back and releases the server: no state, no
// lock. Exported by the service executable (AcpiExports.def) under their standard-call names.
// Any thread that has initialised COM may call; the bridge never initialises COM itself.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <cstdint>

namespace ovled {

inline constexpr wchar_t kAcpiServerProgId[] = L"bivorCom.axdata";

// CLSIDFromProgID, then CoCreateInstance(CLSCTX_LOCAL_SERVER, IID_IDispatch); the failing call's HRESULT.
HRESULT CreateAcpiServer(const wchar_t* progId, IDispatch** server) noexcept;

// Resolves `name` (LOCALE_USER_DEFAULT) and invokes it (LOCALE_SYSTEM_DEFAULT) with `flags`. The
// `argumentCount` arguments are given in natural order; they are handed to the server last-first, as
// dispatch expects. DISPATCH_PROPERTYPUT adds the one named argument DISPID_PROPERTYPUT. E_FAIL for a
// null server; otherwise the HRESULT of the name lookup when it fails, else of Invoke.
HRESULT InvokeByName(WORD flags, VARIANT* result, IDispatch* server, const wchar_t* name, UINT argumentCount,
                     const VARIANT* arguments) noexcept;

} // namespace ovled

// Results: 1 success, 0 failure. Buffers: *length is the bytes to send (and the buffer's capacity) on
// entry and the bytes handed back on return, never more than the capacity. A buffer call whose
// invocation fails still returns 1, with the buffer as sent and *length unchanged.
extern "C" {
std::uint32_t __stdcall AcpiInit();
std::uint32_t __stdcall AcpiGetItem(std::uint32_t id, std::uint32_t* value);
std::uint32_t __stdcall AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value);
std::uint32_t __stdcall AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags);
std::uint32_t __stdcall AcpiSetItemBuffer(std::uint32_t ignored, std::uint32_t id, std::uint8_t* buffer,
                                          std::uint32_t* length);
std::uint32_t __stdcall AcpiMbif(std::uint8_t* buffer, std::uint32_t* length);
// Sets byte 0 of the buffer to 0xE1 before sending it.
std::uint32_t __stdcall AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length);
// Sends the value `selector` points at.
std::uint32_t __stdcall AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer, std::uint32_t* length);
}
