// What the service's COM classes share: the type information of their dual interfaces (from the running
// executable's type library resource, loaded once and kept), the refusal of late-bound arguments that are
// not plain values, a static class factory, and the call of the process's lighting manager from a COM
// method. Any thread.
#pragma once

#include "lighting/LightingManager.h"
#include "lighting/LightingRoot.h"
#include "lighting/win32/ComServerModule.h"
#include "platform/ProcessRoot.h"

#include <windows.h>

#include <oaidl.h>
#include <objbase.h>

#include <new>
#include <type_traits>

namespace ovled::win32 {

// The type information of interface `iid` of the executable's type library; E_POINTER for a null `info`.
HRESULT GetServerTypeInfo(REFIID iid, ITypeInfo** info) noexcept;

// S_OK when every argument is a number, a string (of a number, a time), or a boolean, directly or by
// reference as script engines pass their variables; else DISP_E_TYPEMISMATCH with `argumentError` set.
// Coercing anything else calls back into the caller (an object) or may name what the caller chooses (an
// array, a record), so it is refused before the type information coerces it.
HRESULT CheckPlainArguments(const DISPPARAMS* params, UINT* argumentError) noexcept;

// IDispatch of a dual interface, from the executable's type library: only the default interface
// (IID_NULL), and late-bound arguments that are plain values only (CheckPlainArguments).
template <class Interface> class DualDispatch : public Interface {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept override
    {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        return index != 0 ? DISP_E_BADINDEX : GetServerTypeInfo(__uuidof(Interface), info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept override
    {
        return WithTypeInfo(riid, [&](ITypeInfo& info) { return info.GetIDsOfNames(names, count, ids); });
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) noexcept override
    {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        if (const HRESULT refused = CheckPlainArguments(params, argumentError); FAILED(refused))
            return refused;
        return WithTypeInfo(riid, [&](ITypeInfo& info) {
            return info.Invoke(static_cast<Interface*>(this), id, flags, params, result, exception, argumentError);
        });
    }

private:
    template <class Call> static HRESULT WithTypeInfo(REFIID riid, Call&& call) noexcept
    {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        const HRESULT result = GetServerTypeInfo(__uuidof(Interface), &info);
        if (FAILED(result))
            return result;
        const HRESULT answer = call(*info);
        info->Release();
        return answer;
    }
};

// The class object of a class whose instances `Create` builds: one per process, never destroyed;
// LockServer takes or releases one module lock.
template <HRESULT (*Create)(IUnknown* outer, REFIID riid, void** ppv)>
class StaticClassFactory final : public IClassFactory {
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
        return Create(outer, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) noexcept override
    {
        if (IComServerModule* module = CurrentModule())
            lock ? module->AddLock() : module->ReleaseLock();
        return S_OK;
    }
};

// Runs `call` with the process's lighting manager, in a thread session of the call's own (what the call
// holds for its firmware accesses is released before it returns). `call` answers an HRESULT or nothing
// (S_OK). E_UNEXPECTED when the process has no root (it could not be built); the manager's calls can
// throw only when memory or a system resource runs out, which must not cross the COM boundary:
// E_OUTOFMEMORY or E_UNEXPECTED.
template <class Call> HRESULT WithManager(Call&& call) noexcept
{
    try {
        auto* root = platform::ProcessRoot::CurrentAs<ILightingRoot>();
        if (!root)
            return E_UNEXPECTED;
        const auto session = root->Sessions().Begin();
        if constexpr (std::is_void_v<decltype(call(root->Manager()))>) {
            call(root->Manager());
            return S_OK;
        } else {
            return call(root->Manager());
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace ovled::win32
