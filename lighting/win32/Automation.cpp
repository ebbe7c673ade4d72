#include "lighting/win32/Automation.h"

#include "platform/Hresult.h"
#include "platform/Paths.h"
#include "platform/win32/Unique.h"

#include <cstring>
#include <map>
#include <mutex>

namespace ovled::win32 {
namespace {

bool IsPlainArgument(const VARIANT& argument) noexcept
{
    VARTYPE type = argument.vt;
    if (type == (VT_BYREF | VT_VARIANT)) {
        if (!argument.pvarVal)
            return false;
        type = argument.pvarVal->vt; // one level: a reference inside a reference is refused
    } else if (type & VT_BYREF) {
        if (!argument.byref)
            return false;
        type &= static_cast<VARTYPE>(~VT_BYREF);
    }
    switch (type) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DECIMAL:
    case VT_BOOL:
    case VT_BSTR:
        return true;
    default:
        return false;
    }
}

} // namespace

HRESULT CheckPlainArguments(const DISPPARAMS* params, UINT* argumentError) noexcept
{
    if (!params || params->cArgs == 0)
        return S_OK;
    if (!params->rgvarg)
        return E_INVALIDARG;
    for (UINT index = 0; index < params->cArgs; ++index) {
        if (!IsPlainArgument(params->rgvarg[index])) {
            if (argumentError)
                *argumentError = index;
            return DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

HRESULT GetServerTypeInfo(REFIID iid, ITypeInfo** info) noexcept
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    static std::mutex mutex;
    static std::map<GUID, ITypeInfo*, bool (*)(const GUID&, const GUID&)> cached(
        [](const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; });
    try {
        std::lock_guard lock(mutex);
        ITypeInfo*& entry = cached[iid]; // kept for the life of the process
        if (!entry) {
            const std::wstring path = platform::ExecutablePath().wstring();
            if (path.empty())
                return HresultFromWin32(static_cast<long>(GetLastError()));
            ComPtr<ITypeLib> library;
            HRESULT result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
            if (SUCCEEDED(result))
                result = library->GetTypeInfoOfGuid(iid, &entry);
            if (FAILED(result))
                return result;
        }
        entry->AddRef();
        *info = entry;
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace ovled::win32
