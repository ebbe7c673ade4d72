#include "hardware/win32/AcpiBridge.h"

#include "platform/win32/Unique.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

namespace ovled {
namespace {

constexpr std::uint8_t kGroupListMarker = 0xE1;

VARIANT Unsigned(std::uint32_t value) noexcept
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI4;
    v.ulVal = value;
    return v;
}

VARIANT UnsignedReference(std::uint32_t* value) noexcept
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_UI4;
    v.pulVal = reinterpret_cast<ULONG*>(value);
    return v;
}

VARIANT VariantReference(VARIANT* value) noexcept
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_VARIANT;
    v.pvarVal = value;
    return v;
}

// The exports' way to a server: an instance of their own, created by Reach and released with the caller.
class PerCallCaller final : public IAcpiCaller {
public:
    HRESULT Reach() noexcept override { return CreateAcpiServer(kAcpiServerProgId, m_server.put()); }
    HRESULT Invoke(AcpiMethod method, VARIANT* result, UINT count, const VARIANT* arguments) noexcept override
    {
        return InvokeByName(DISPATCH_METHOD, result, m_server.get(), AcpiMethodName(method), count, arguments);
    }

private:
    win32::ComPtr<IDispatch> m_server;
};

std::uint32_t ScalarCall(IAcpiCaller& caller, AcpiMethod method, UINT count, const VARIANT* arguments) noexcept
{
    if (FAILED(caller.Reach()))
        return 0;
    win32::UniqueVariant result;
    const HRESULT hr = caller.Invoke(method, result.get(), count, arguments);
    // The method's own answer is not what counts; only whether the invocation went through.
    return SUCCEEDED(hr) ? 1 : 0;
}

// Copies what the server left in `reply` back into the caller's buffer: never more than the capacity,
// never more than the array holds, never more than *length says. *length ends as the bytes copied.
void CopyBack(const VARIANT& reply, std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t* length) noexcept
{
    SAFEARRAY* array = (reply.vt & VT_ARRAY) && !(reply.vt & VT_BYREF) ? reply.parray : nullptr;
    std::uint32_t available = 0;
    LONG lower = 0, upper = -1;
    if (array && SafeArrayGetDim(array) == 1 && SafeArrayGetElemsize(array) == 1 &&
        SUCCEEDED(SafeArrayGetLBound(array, 1, &lower)) && SUCCEEDED(SafeArrayGetUBound(array, 1, &upper)) &&
        upper >= lower)
        available = static_cast<std::uint32_t>(upper - lower) + 1;
    const std::uint32_t count = std::min({*length, capacity, available});
    if (count > 0) {
        win32::SafeArrayDataLock data(array);
        if (!data) {
            *length = 0;
            return;
        }
        std::memcpy(buffer, data.data(), count);
    }
    *length = count;
}

std::uint32_t BufferCall(IAcpiCaller& caller, AcpiMethod method, std::optional<std::uint32_t> leading,
                         std::uint8_t* buffer, std::uint32_t* length, bool markGroupRequest) noexcept
{
    if (!length || (!buffer && *length > 0))
        return 0;
    if (FAILED(caller.Reach()))
        return 0;
    const std::uint32_t capacity = *length;
    SAFEARRAYBOUND bound{capacity, 0};
    SAFEARRAY* array = SafeArrayCreate(VT_I1, 1, &bound);
    if (!array)
        return 0;
    win32::UniqueVariant local;
    local->vt = VT_ARRAY | VT_I1;
    local->parray = array;

    if (markGroupRequest && capacity > 0)
        buffer[0] = kGroupListMarker;
    if (capacity > 0) {
        win32::SafeArrayDataLock data(array);
        if (data)
            std::memcpy(data.data(), buffer, capacity);
    }

    VARIANT arguments[3];
    UINT count = 0;
    if (leading)
        arguments[count++] = Unsigned(*leading);
    arguments[count++] = VariantReference(local.get());
    arguments[count++] = UnsignedReference(length);
    win32::UniqueVariant result;
    // The invocation's own result is not looked at: the buffer and length say what came back.
    (void)caller.Invoke(method, result.get(), count, arguments);

    CopyBack(*local.get(), buffer, capacity, length);
    return SUCCEEDED(local.Clear()) ? 1 : 0;
}

} // namespace

HRESULT CreateAcpiServer(const wchar_t* progId, IDispatch** server, DWORD context) noexcept
{
    if (!server)
        return E_POINTER;
    *server = nullptr;
    CLSID clsid;
    const HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr))
        return hr;
    return CoCreateInstance(clsid, nullptr, context, IID_IDispatch, reinterpret_cast<void**>(server));
}

const wchar_t* AcpiMethodName(AcpiMethod method) noexcept
{
    switch (method) {
    case AcpiMethod::Init:
        return L"iAcpiInit";
    case AcpiMethod::GetItem:
        return L"iAcpiGetItem";
    case AcpiMethod::GetItemEx:
        return L"iAcpiGetItemEx";
    case AcpiMethod::SetItem:
        return L"iAcpiSetItem";
    case AcpiMethod::SetItemBuffer:
        return L"iAcpiSetItemBuffer";
    case AcpiMethod::Mbif:
        return L"iAcpiMbif";
    case AcpiMethod::GGrp:
        return L"iAcpiGGrp";
    case AcpiMethod::CallMethod:
        return L"iAcpiCallMethod";
    case AcpiMethod::Count:
        break;
    }
    return L"";
}

HRESULT LookUpDispatchId(IDispatch* server, const wchar_t* name, DISPID& id) noexcept
{
    if (!server)
        return E_FAIL;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return server->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
}

HRESULT InvokeByName(WORD flags, VARIANT* result, IDispatch* server, const wchar_t* name, UINT argumentCount,
                     const VARIANT* arguments) noexcept
{
    DISPID id = 0;
    const HRESULT hr = LookUpDispatchId(server, name, id);
    return FAILED(hr) ? hr : InvokeById(flags, result, server, id, argumentCount, arguments);
}

HRESULT InvokeById(WORD flags, VARIANT* result, IDispatch* server, DISPID id, UINT argumentCount,
                   const VARIANT* arguments) noexcept
{
    if (!server)
        return E_FAIL;
    std::vector<VARIANT> reversed;
    try {
        reversed.resize(argumentCount);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (UINT i = 0; i < argumentCount; ++i)
        reversed[argumentCount - 1 - i] = arguments[i];

    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{};
    parameters.rgvarg = reversed.data();
    parameters.cArgs = argumentCount;
    if (flags & DISPATCH_PROPERTYPUT) {
        parameters.rgdispidNamedArgs = &putId;
        parameters.cNamedArgs = 1;
    }
    return server->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, flags, &parameters, result, nullptr, nullptr);
}

namespace acpi {

std::uint32_t Init(IAcpiCaller& caller) noexcept
{
    return ScalarCall(caller, AcpiMethod::Init, 0, nullptr);
}

std::uint32_t GetItem(IAcpiCaller& caller, std::uint32_t id, std::uint32_t* value) noexcept
{
    const VARIANT arguments[] = {Unsigned(id), UnsignedReference(value)};
    return ScalarCall(caller, AcpiMethod::GetItem, 2, arguments);
}

std::uint32_t GetItemEx(IAcpiCaller& caller, std::uint32_t id, std::uint32_t parameter, std::uint32_t* value) noexcept
{
    const VARIANT arguments[] = {Unsigned(id), Unsigned(parameter), UnsignedReference(value)};
    return ScalarCall(caller, AcpiMethod::GetItemEx, 3, arguments);
}

std::uint32_t SetItem(IAcpiCaller& caller, std::uint32_t id, std::uint32_t value, std::uint32_t flags) noexcept
{
    const VARIANT arguments[] = {Unsigned(id), Unsigned(value), Unsigned(flags)};
    return ScalarCall(caller, AcpiMethod::SetItem, 3, arguments);
}

std::uint32_t SetItemBuffer(IAcpiCaller& caller, std::uint32_t id, std::uint8_t* buffer, std::uint32_t* length) noexcept
{
    return BufferCall(caller, AcpiMethod::SetItemBuffer, id, buffer, length, false);
}

std::uint32_t Mbif(IAcpiCaller& caller, std::uint8_t* buffer, std::uint32_t* length) noexcept
{
    return BufferCall(caller, AcpiMethod::Mbif, std::nullopt, buffer, length, false);
}

std::uint32_t GGrp(IAcpiCaller& caller, std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length) noexcept
{
    return BufferCall(caller, AcpiMethod::GGrp, group, buffer, length, true);
}

std::uint32_t CallMethod(IAcpiCaller& caller, const std::uint32_t* selector, std::uint8_t* buffer,
                         std::uint32_t* length) noexcept
{
    if (!selector)
        return 0;
    return BufferCall(caller, AcpiMethod::CallMethod, *selector, buffer, length, false);
}

} // namespace acpi

} // namespace ovled

using ovled::PerCallCaller;
namespace acpi = ovled::acpi;

extern "C" {

std::uint32_t __stdcall AcpiInit()
{
    PerCallCaller caller;
    return acpi::Init(caller);
}

std::uint32_t __stdcall AcpiGetItem(std::uint32_t id, std::uint32_t* value)
{
    PerCallCaller caller;
    return acpi::GetItem(caller, id, value);
}

std::uint32_t __stdcall AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value)
{
    PerCallCaller caller;
    return acpi::GetItemEx(caller, id, parameter, value);
}

std::uint32_t __stdcall AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags)
{
    PerCallCaller caller;
    return acpi::SetItem(caller, id, value, flags);
}

std::uint32_t __stdcall AcpiSetItemBuffer(std::uint32_t, std::uint32_t id, std::uint8_t* buffer, std::uint32_t* length)
{
    PerCallCaller caller;
    return acpi::SetItemBuffer(caller, id, buffer, length);
}

std::uint32_t __stdcall AcpiMbif(std::uint8_t* buffer, std::uint32_t* length)
{
    PerCallCaller caller;
    return acpi::Mbif(caller, buffer, length);
}

std::uint32_t __stdcall AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length)
{
    PerCallCaller caller;
    return acpi::GGrp(caller, group, buffer, length);
}

std::uint32_t __stdcall AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer, std::uint32_t* length)
{
    PerCallCaller caller;
    return acpi::CallMethod(caller, selector, buffer, length);
}

} // extern "C"
