#include "lighting/win32/LightControl.h"

#include "lighting/win32/Automation.h"
#include "platform/win32/Unique.h"

#include <new>

namespace ovled::win32 {
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
    static StaticClassFactory<&CLightControl::CreateInstance> factory;
    return &factory;
}

HRESULT GetLightControlTypeInfo(ITypeInfo** info) noexcept
{
    return GetServerTypeInfo(IID_ILightControl, info);
}

} // namespace ovled::win32
