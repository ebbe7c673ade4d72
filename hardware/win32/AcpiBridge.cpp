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

std::uint32_t ScalarCall(const wchar_t* method, UINT count, const VARIANT* arguments) noexcept
{
    win32::ComPtr<IDispatch> server;
    if (FAILED(CreateAcpiServer(kAcpiServerProgId, server.put())))
        return 0;
    win32::UniqueVariant result;
    const HRESULT hr = InvokeByName(DISPATCH_METHOD, result.get(), server.get(), method, count, arguments);
    // The method's own answer is not what counts; only whether the invocation went through.
    (void)result->ulVal;
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

std::uint32_t BufferCall(const wchar_t* method, std::optional<std::uint32_t> leading, std::uint8_t* buffer,
                         std::uint32_t* length, bool markGroupRequest) noexcept
{
    if (!length || (!buffer && *length > 0))
        return 0;
    win32::ComPtr<IDispatch> server;
    if (FAILED(CreateAcpiServer(kAcpiServerProgId, server.put())))
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
    (void)InvokeByName(DISPATCH_METHOD, result.get(), server.get(), method, count, arguments);

    CopyBack(*local.get(), buffer, capacity, length);
    server.reset();
    return SUCCEEDED(local.Clear()) ? 1 : 0;
}

} // namespace

HRESULT CreateAcpiServer(const wchar_t* progId, IDispatch** server) noexcept
{
    if (!server)
        return E_POINTER;
    *server = nullptr;
    CLSID clsid;
    const HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr))
        return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(server));
}

HRESULT InvokeByName(WORD flags, VARIANT* result, IDispatch* server, const wchar_t* name, UINT argumentCount,
                     const VARIANT* arguments) noexcept
{
    if (!server)
        return E_FAIL;
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = server->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;

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

} // namespace ovled

using ovled::BufferCall;
using ovled::ScalarCall;
using ovled::Unsigned;
using ovled::UnsignedReference;

extern "C" {

std::uint32_t __stdcall AcpiInit()
{
    return ScalarCall(L"iAcpiInit", 0, nullptr);
}

std::uint32_t __stdcall AcpiGetItem(std::uint32_t id, std::uint32_t* value)
{
    const VARIANT arguments[] = {Unsigned(id), UnsignedReference(value)};
    return ScalarCall(L"iAcpiGetItem", 2, arguments);
}

std::uint32_t __stdcall AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value)
{
    const VARIANT arguments[] = {Unsigned(id), Unsigned(parameter), UnsignedReference(value)};
    return ScalarCall(L"iAcpiGetItemEx", 3, arguments);
}

std::uint32_t __stdcall AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags)
{
    const VARIANT arguments[] = {Unsigned(id), Unsigned(value), Unsigned(flags)};
    return ScalarCall(L"iAcpiSetItem", 3, arguments);
}

std::uint32_t __stdcall AcpiSetItemBuffer(std::uint32_t, std::uint32_t id, std::uint8_t* buffer, std::uint32_t* length)
{
    return BufferCall(L"iAcpiSetItemBuffer", id, buffer, length, false);
}

std::uint32_t __stdcall AcpiMbif(std::uint8_t* buffer, std::uint32_t* length)
{
    return BufferCall(L"iAcpiMbif", std::nullopt, buffer, length, false);
}

std::uint32_t __stdcall AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length)
{
    return BufferCall(L"iAcpiGGrp", group, buffer, length, true);
}

std::uint32_t __stdcall AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer, std::uint32_t* length)
{
    if (!selector)
        return 0;
    return BufferCall(L"iAcpiCallMethod", *selector, buffer, length, false);
}

} // extern "C"
