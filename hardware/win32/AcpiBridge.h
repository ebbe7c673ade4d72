// The ACPI automation bridge: the eight firmware operations over the board maker's automation server
// ("bivorCom.axdata", late-bound IDispatch), with their argument, buffer and result rules. The exported
// functions create their own server instance per call, invoke one method by name, copy the results back
// and release the server: no state, no lock. The same operations also run over a held connection
// (hardware/win32/HeldConnection.h), which the service's own threads use. Exported by the service
// executable (AcpiExports.def) under their standard-call names.
// Any thread that has initialised COM may call; the bridge never initialises COM itself.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <cstdint>

namespace ovled {

inline constexpr wchar_t kAcpiServerProgId[] = L"bivorCom.axdata";

// The automation server's methods.
enum class AcpiMethod { Init, GetItem, GetItemEx, SetItem, SetItemBuffer, Mbif, GGrp, CallMethod, Count };
const wchar_t* AcpiMethodName(AcpiMethod method) noexcept;

// CLSIDFromProgID, then CoCreateInstance(`context`, IID_IDispatch); the failing call's HRESULT.
HRESULT CreateAcpiServer(const wchar_t* progId, IDispatch** server, DWORD context = CLSCTX_LOCAL_SERVER) noexcept;

// Resolves `name` (LOCALE_USER_DEFAULT) into `id`. E_FAIL for a null server.
HRESULT LookUpDispatchId(IDispatch* server, const wchar_t* name, DISPID& id) noexcept;
// Invokes `id` (LOCALE_SYSTEM_DEFAULT) with `flags`. The `argumentCount` arguments are given in natural
// order; they are handed to the server last-first, as dispatch expects. DISPATCH_PROPERTYPUT adds the one
// named argument DISPID_PROPERTYPUT. E_FAIL for a null server.
HRESULT InvokeById(WORD flags, VARIANT* result, IDispatch* server, DISPID id, UINT argumentCount,
                   const VARIANT* arguments) noexcept;
// Both: the HRESULT of the name lookup when it fails, else of Invoke.
HRESULT InvokeByName(WORD flags, VARIANT* result, IDispatch* server, const wchar_t* name, UINT argumentCount,
                     const VARIANT* arguments) noexcept;

// How one operation reaches a server: Reach makes sure there is one to call, Invoke calls a method on it
// (DISPATCH_METHOD, arguments in natural order).
class IAcpiCaller {
public:
    // The HRESULT of the server's creation (S_OK when it is there).
    virtual HRESULT Reach() noexcept = 0;
    // The HRESULT of the name lookup or of Invoke.
    virtual HRESULT Invoke(AcpiMethod method, VARIANT* result, UINT argumentCount, const VARIANT* arguments) noexcept = 0;

protected:
    ~IAcpiCaller() = default;
};

// The eight operations over a caller, as the exports define them.
namespace acpi {
std::uint32_t Init(IAcpiCaller& caller) noexcept;
std::uint32_t GetItem(IAcpiCaller& caller, std::uint32_t id, std::uint32_t* value) noexcept;
std::uint32_t GetItemEx(IAcpiCaller& caller, std::uint32_t id, std::uint32_t parameter, std::uint32_t* value) noexcept;
std::uint32_t SetItem(IAcpiCaller& caller, std::uint32_t id, std::uint32_t value, std::uint32_t flags) noexcept;
std::uint32_t SetItemBuffer(IAcpiCaller& caller, std::uint32_t id, std::uint8_t* buffer, std::uint32_t* length) noexcept;
std::uint32_t Mbif(IAcpiCaller& caller, std::uint8_t* buffer, std::uint32_t* length) noexcept;
std::uint32_t GGrp(IAcpiCaller& caller, std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length) noexcept;
std::uint32_t CallMethod(IAcpiCaller& caller, const std::uint32_t* selector, std::uint8_t* buffer,
                         std::uint32_t* length) noexcept;
} // namespace acpi

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
