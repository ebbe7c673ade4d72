// CLighting: the COM class Lighting ({167BDFBB-...}, ProgID "OvLedService.Lighting"), the lighting's status
// and settings for the lighting app and scripts: the devices and what they show, the brightness, the
// lights-off rules. Its dual interface ILighting is served from the same process and AppID as
// LightControl; IDispatch is driven by the executable's type library, late-bound arguments are plain
// values only. No state of its own: every call asks the process's lighting manager, and none waits for a
// firmware call. Each instance holds one module lock; calls arrive on the multithreaded apartment's
// threads, several at once.
#pragma once

#include "lighting/win32/Automation.h"
#include "lighting/win32/ComServerModule.h"

#include <windows.h>

#include <OvLedService_h.h>

#include <atomic>

namespace ovled::win32 {

class CLighting final : public DualDispatch<ILighting> {
public:
    // The class factory's rules; the class cannot be aggregated.
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;

    STDMETHODIMP get_DeviceCount(LONG* count) noexcept override;
    STDMETHODIMP get_DeviceKind(LONG device, LONG* kind) noexcept override;
    STDMETHODIMP get_DeviceName(LONG device, BSTR* name) noexcept override;
    STDMETHODIMP get_DeviceMode(LONG device, LONG* mode) noexcept override;
    STDMETHODIMP get_DeviceOn(LONG device, VARIANT_BOOL* on) noexcept override;
    STDMETHODIMP get_DeviceColour(LONG device, LONG* colour) noexcept override;
    STDMETHODIMP get_Brightness(LONG* percent) noexcept override;
    STDMETHODIMP put_Brightness(LONG percent) noexcept override;
    STDMETHODIMP get_OffWhenLocked(VARIANT_BOOL* on) noexcept override;
    STDMETHODIMP put_OffWhenLocked(VARIANT_BOOL on) noexcept override;
    STDMETHODIMP get_OffWhenDisplayOff(VARIANT_BOOL* on) noexcept override;
    STDMETHODIMP put_OffWhenDisplayOff(VARIANT_BOOL on) noexcept override;
    STDMETHODIMP get_OffAtNight(VARIANT_BOOL* on) noexcept override;
    STDMETHODIMP put_OffAtNight(VARIANT_BOOL on) noexcept override;
    STDMETHODIMP get_NightStart(BSTR* time) noexcept override;
    STDMETHODIMP put_NightStart(BSTR time) noexcept override;
    STDMETHODIMP get_NightEnd(BSTR* time) noexcept override;
    STDMETHODIMP put_NightEnd(BSTR time) noexcept override;
    STDMETHODIMP LightsOff(LONG minutes) noexcept override;
    STDMETHODIMP LightsOn() noexcept override;
    STDMETHODIMP get_LightsAreOn(VARIANT_BOOL* on) noexcept override;
    STDMETHODIMP get_OffReasons(LONG* rules) noexcept override;
    STDMETHODIMP get_ChangeCount(LONG* count) noexcept override;

private:
    CLighting() noexcept = default;
    ~CLighting() = default;

    ModuleLock m_moduleLock;
    std::atomic<ULONG> m_references{1};
};

IClassFactory* LightingClassFactory() noexcept;

} // namespace ovled::win32
