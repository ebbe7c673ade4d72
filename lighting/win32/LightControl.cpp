#include "lighting/win32/LightControl.h"

#include "lighting/LightingManager.h"
#include "lighting/LightingRoot.h"
#include "platform/ProcessRoot.h"
#include "platform/Paths.h"
#include "platform/win32/Unique.h"

#include <mutex>
#include <new>

namespace ovled::win32 {
namespace {

class LightControlFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory lives as long as the process; clients keep the server alive through LockServer.
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override
    {
        return CLightControl::CreateInstance(outer, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) noexcept override
    {
        if (IComServerModule* module = CurrentModule())
            lock ? module->AddLock() : module->ReleaseLock();
        return S_OK;
    }
};

// The manager's calls can throw only when memory or a system resource runs out; that must not cross
// the COM boundary.
// Runs `call` with the process's lighting manager, in a thread session of the call's own (what the call
// holds for its firmware accesses is released before it returns). E_UNEXPECTED when the process has no
// root (it could not be built), E_OUTOFMEMORY or E_UNEXPECTED for what the manager throws.
template <class Call> HRESULT WithManager(Call&& call) noexcept
{
    try {
        auto* root = platform::ProcessRoot::CurrentAs<ILightingRoot>();
        if (!root)
            return E_UNEXPECTED;
        const auto session = root->Sessions().Begin();
        call(root->Manager());
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// IDispatch's name lookup and calls: only for the default interface (IID_NULL), through the type
// information of ILightControl.
template <class Call>
HRESULT WithTypeInfo(REFIID riid, Call&& call) noexcept
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    const HRESULT result = GetLightControlTypeInfo(info.put());
    return FAILED(result) ? result : call(*info.get());
}

// A number, or a string of one (coerced to a number by the type information), directly or by reference as
// script engines pass their variables (VT_BYREF|VT_VARIANT holding a number or string). Anything else is
// refused before the type information coerces it: coercing an object calls back into the caller (whose
// thread then waits in our process for as long as the caller likes), and arrays and records may hold
// objects or name type information of the caller's choosing.
bool IsNumberArgument(const VARIANT& argument) noexcept
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

HRESULT CLightControl::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer && riid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) CLightControl(outer);
    if (!object)
        return E_OUTOFMEMORY;
    // The object lives on the reference its inner unknown hands out; a failed query drops it again.
    object->m_inner.AddRef();
    const HRESULT result = object->m_inner.QueryInterface(riid, ppv);
    object->m_inner.Release();
    return result;
}

CLightControl::CLightControl(IUnknown* outer) noexcept : m_controlling(outer ? outer : &m_inner) {}

STDMETHODIMP CLightControl::Inner::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown) {
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    if (riid == IID_IDispatch || riid == IID_ILightControl) {
        *ppv = static_cast<ILightControl*>(&m_owner);
        m_owner.AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CLightControl::Inner::AddRef() noexcept
{
    return ++m_owner.m_references;
}

STDMETHODIMP_(ULONG) CLightControl::Inner::Release() noexcept
{
    const ULONG remaining = --m_owner.m_references;
    if (remaining == 0)
        delete &m_owner;
    return remaining;
}

STDMETHODIMP CLightControl::QueryInterface(REFIID riid, void** ppv) noexcept
{
    return m_controlling->QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CLightControl::AddRef() noexcept
{
    return m_controlling->AddRef();
}

STDMETHODIMP_(ULONG) CLightControl::Release() noexcept
{
    return m_controlling->Release();
}

STDMETHODIMP CLightControl::GetTypeInfoCount(UINT* count) noexcept
{
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CLightControl::GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    return GetLightControlTypeInfo(info);
}

STDMETHODIMP CLightControl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept
{
    return WithTypeInfo(riid, [&](ITypeInfo& info) { return info.GetIDsOfNames(names, count, ids); });
}

STDMETHODIMP CLightControl::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) noexcept
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (params && params->cArgs > 0) {
        if (!params->rgvarg)
            return E_INVALIDARG;
        for (UINT index = 0; index < params->cArgs; ++index) {
            if (!IsNumberArgument(params->rgvarg[index])) {
                if (argumentError)
                    *argumentError = index;
                return DISP_E_TYPEMISMATCH;
            }
        }
    }
    return WithTypeInfo(riid, [&](ITypeInfo& info) {
        return info.Invoke(static_cast<ILightControl*>(this), id, flags, params, result, exception, argumentError);
    });
}

STDMETHODIMP CLightControl::get_Color(ULONG*) noexcept
{
    return S_OK;
}
STDMETHODIMP CLightControl::put_Color(ULONG) noexcept
{
    return S_OK;
}
STDMETHODIMP CLightControl::get_Mode(SHORT*) noexcept
{
    return S_OK;
}
STDMETHODIMP CLightControl::put_Mode(SHORT) noexcept
{
    return S_OK;
}
STDMETHODIMP CLightControl::Start() noexcept
{
    return S_OK;
}
STDMETHODIMP CLightControl::Stop() noexcept
{
    return S_OK;
}
STDMETHODIMP CLightControl::get_Checked(SHORT*) noexcept
{
    return S_OK;
}
STDMETHODIMP CLightControl::put_Checked(SHORT) noexcept
{
    return S_OK;
}

STDMETHODIMP CLightControl::get_ModeByIndex(SHORT index, SHORT* pVal) noexcept
{
    if (!pVal) // an in-process caller could pass one; the answer would land nowhere
        return E_POINTER;
    return WithManager([&](LightingManager& manager) { *pVal = static_cast<SHORT>(manager.GetModeByIndex(index)); });
}

STDMETHODIMP CLightControl::put_ModeByIndex(SHORT index, SHORT newVal) noexcept
{
    return WithManager([&](LightingManager& manager) { manager.SetModeByIndex(index, newVal); });
}

IClassFactory* LightControlClassFactory() noexcept
{
    static LightControlFactory factory;
    return &factory;
}

HRESULT GetLightControlTypeInfo(ITypeInfo** info) noexcept
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    static std::mutex mutex;
    static ITypeInfo* cached = nullptr; // kept for the life of the process
    try {
        std::lock_guard lock(mutex);
        if (!cached) {
            const std::wstring path = platform::ExecutablePath().wstring();
            if (path.empty())
                return HresultFromWin32(static_cast<long>(GetLastError()));
            ComPtr<ITypeLib> library;
            HRESULT result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
            if (FAILED(result))
                return result;
            result = library->GetTypeInfoOfGuid(IID_ILightControl, &cached);
            if (FAILED(result))
                return result;
        }
        cached->AddRef();
        *info = cached;
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace ovled::win32
