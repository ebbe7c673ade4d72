// CLightControl: the COM class LightControl, through which the lighting user interface reaches the
// service. Of its dual interface ILightControl only the indexed property ModeByIndex works (it maps
// onto the lighting manager); the other members answer S_OK and do nothing. IDispatch is driven by the
// type library the executable carries. Each instance holds one module lock. Calls arrive on the COM
// runtime's multithreaded-apartment threads, several at once; the reference count is atomic.
#pragma once

#include "lighting/win32/Automation.h"
#include "lighting/win32/ComServerModule.h"

#include <windows.h>

#include <OvLedService_h.h>

#include <atomic>

namespace ovled::win32 {

class CLightControl final : public DualDispatch<ILightControl> {
public:
    // The class factory's creation rules: a null ppv is E_POINTER; with an outer unknown only
    // IID_IUnknown may be asked for (CLASS_E_NOAGGREGATION otherwise) and an aggregated instance is
    // built; without one a plain instance is built and queried, and destroyed when that fails.
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept;

    // IUnknown: delegates to the controlling unknown (the outer one when aggregated).
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;

    // ILightControl.
    STDMETHODIMP get_Color(ULONG* pVal) noexcept override;
    STDMETHODIMP put_Color(ULONG newVal) noexcept override;
    STDMETHODIMP get_Mode(SHORT* pVal) noexcept override;
    STDMETHODIMP put_Mode(SHORT newVal) noexcept override;
    STDMETHODIMP Start() noexcept override;
    STDMETHODIMP Stop() noexcept override;
    STDMETHODIMP get_Checked(SHORT* pVal) noexcept override;
    STDMETHODIMP put_Checked(SHORT newVal) noexcept override;
    // The mode of a device (-1 the onboard zone, 0.. the strips); the low 16 bits of the manager's answer.
    STDMETHODIMP get_ModeByIndex(SHORT index, SHORT* pVal) noexcept override;
    // Sets a mode or runs a command index (-2, -3); S_OK also for an index the manager ignores.
    STDMETHODIMP put_ModeByIndex(SHORT index, SHORT newVal) noexcept override;

private:
    // The object's own identity and reference count; the controlling unknown when not aggregated.
    class Inner final : public IUnknown {
    public:
        explicit Inner(CLightControl& owner) noexcept : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
        STDMETHODIMP_(ULONG) AddRef() noexcept override;
        STDMETHODIMP_(ULONG) Release() noexcept override;

    private:
        CLightControl& m_owner;
    };

    explicit CLightControl(IUnknown* outer) noexcept;
    ~CLightControl() = default;

    ModuleLock m_moduleLock;
    Inner m_inner{*this};
    IUnknown* const m_controlling;
    std::atomic<ULONG> m_references{0};
};

// The class object of LightControl: one per process, never destroyed. LockServer takes or releases
// one module lock.
IClassFactory* LightControlClassFactory() noexcept;

// The type information of ILightControl, loaded once from the running executable's type library
// resource (no registration needed) and kept for the life of the process.
HRESULT GetLightControlTypeInfo(ITypeInfo** info) noexcept;

} // namespace ovled::win32
