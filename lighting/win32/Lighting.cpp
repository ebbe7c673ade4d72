#include "lighting/win32/Lighting.h"

#include "lighting/win32/Automation.h"
#include "platform/win32/Unique.h"

#include <new>
#include <string>

namespace ovled::win32 {
namespace {

constexpr LONG kLongestOffMinutes = 7 * 24 * 60;

VARIANT_BOOL Bool(bool value) noexcept
{
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

// Runs `read` with the status of the device `device` names: DISP_E_BADINDEX for a device the board
// does not have.
template <class Read> HRESULT WithDevice(LONG device, Read&& read) noexcept
{
    return WithManager([&](LightingManager& manager) -> HRESULT {
        const LightingManager::Status status = manager.GetStatus();
        if (device < kOnboardDevice || device >= static_cast<LONG>(status.devices.size()) - 1)
            return DISP_E_BADINDEX;
        read(status.devices[static_cast<size_t>(device + 1)]);
        return S_OK;
    });
}

template <class Read> HRESULT WithStatus(Read&& read) noexcept
{
    return WithManager([&](LightingManager& manager) { read(manager.GetStatus()); });
}

// `change` becomes the manager's std::function inside WithManager, where a failed allocation is caught.
template <class Change> HRESULT ChangeRules(Change&& change) noexcept
{
    return WithManager(
        [&](LightingManager& manager) { return manager.ChangeLightsOff(change) ? S_OK : E_INVALIDARG; });
}

HRESULT PutTime(BSTR text, int LightsOffSettings::*field) noexcept
{
    const auto minutes = ParseClockTime(text ? std::wstring_view(text, SysStringLen(text)) : std::wstring_view());
    if (!minutes)
        return E_INVALIDARG;
    return ChangeRules([&](LightsOffSettings& rules) { rules.*field = *minutes; });
}

HRESULT GetTime(BSTR* out, int LightsOffSettings::*field) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return WithStatus([&](const LightingManager::Status& status) {
        *out = SysAllocString(FormatClockTime(status.lightsOff.*field).c_str());
        if (!*out)
            throw std::bad_alloc();
    });
}

HRESULT PutRule(VARIANT_BOOL on, bool LightsOffSettings::*field) noexcept
{
    return ChangeRules([&](LightsOffSettings& rules) { rules.*field = on != VARIANT_FALSE; });
}

HRESULT GetRule(VARIANT_BOOL* out, bool LightsOffSettings::*field) noexcept
{
    if (!out)
        return E_POINTER;
    return WithStatus([&](const LightingManager::Status& status) { *out = Bool(status.lightsOff.*field); });
}

} // namespace

HRESULT CLighting::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) CLighting();
    if (!object)
        return E_OUTOFMEMORY;
    const HRESULT result = object->QueryInterface(riid, ppv);
    object->Release();
    return result;
}

STDMETHODIMP CLighting::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ILighting) {
        *ppv = static_cast<ILighting*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CLighting::AddRef() noexcept
{
    return ++m_references;
}

STDMETHODIMP_(ULONG) CLighting::Release() noexcept
{
    const ULONG remaining = --m_references;
    if (remaining == 0)
        delete this;
    return remaining;
}

STDMETHODIMP CLighting::get_DeviceCount(LONG* count) noexcept
{
    if (!count)
        return E_POINTER;
    return WithManager([&](LightingManager& manager) { *count = manager.StripCount() + 1; });
}

STDMETHODIMP CLighting::get_DeviceKind(LONG device, LONG* kind) noexcept
{
    if (!kind)
        return E_POINTER;
    return WithDevice(device, [&](const LightingManager::DeviceStatus& status) {
        *kind = status.index == kOnboardDevice ? 0 : 1;
    });
}

STDMETHODIMP CLighting::get_DeviceName(LONG device, BSTR* name) noexcept
{
    if (!name)
        return E_POINTER;
    *name = nullptr;
    return WithDevice(device, [&](const LightingManager::DeviceStatus& status) {
        const std::wstring text =
            status.index == kOnboardDevice ? L"Onboard zone" : L"Strip " + std::to_wstring(status.index);
        *name = SysAllocString(text.c_str());
        if (!*name)
            throw std::bad_alloc();
    });
}

STDMETHODIMP CLighting::get_DeviceMode(LONG device, LONG* mode) noexcept
{
    if (!mode)
        return E_POINTER;
    return WithDevice(device, [&](const LightingManager::DeviceStatus& status) { *mode = status.storedMode; });
}

STDMETHODIMP CLighting::get_DeviceOn(LONG device, VARIANT_BOOL* on) noexcept
{
    if (!on)
        return E_POINTER;
    return WithDevice(device, [&](const LightingManager::DeviceStatus& status) { *on = Bool(status.groupOn); });
}

STDMETHODIMP CLighting::get_DeviceColour(LONG device, LONG* colour) noexcept
{
    if (!colour)
        return E_POINTER;
    return WithDevice(device, [&](const LightingManager::DeviceStatus& status) {
        *colour = status.shown ? static_cast<LONG>(ColourArgument(*status.shown)) : -1;
    });
}

STDMETHODIMP CLighting::get_Brightness(LONG* percent) noexcept
{
    if (!percent)
        return E_POINTER;
    return WithStatus([&](const LightingManager::Status& status) { *percent = status.brightness; });
}

STDMETHODIMP CLighting::put_Brightness(LONG percent) noexcept
{
    return WithManager(
        [&](LightingManager& manager) { return manager.SetBrightness(percent) ? S_OK : E_INVALIDARG; });
}

STDMETHODIMP CLighting::get_OffWhenLocked(VARIANT_BOOL* on) noexcept
{
    return GetRule(on, &LightsOffSettings::onLock);
}

STDMETHODIMP CLighting::put_OffWhenLocked(VARIANT_BOOL on) noexcept
{
    return PutRule(on, &LightsOffSettings::onLock);
}

STDMETHODIMP CLighting::get_OffWhenDisplayOff(VARIANT_BOOL* on) noexcept
{
    return GetRule(on, &LightsOffSettings::onDisplayOff);
}

STDMETHODIMP CLighting::put_OffWhenDisplayOff(VARIANT_BOOL on) noexcept
{
    return PutRule(on, &LightsOffSettings::onDisplayOff);
}

STDMETHODIMP CLighting::get_OffAtNight(VARIANT_BOOL* on) noexcept
{
    return GetRule(on, &LightsOffSettings::nightly);
}

STDMETHODIMP CLighting::put_OffAtNight(VARIANT_BOOL on) noexcept
{
    return PutRule(on, &LightsOffSettings::nightly);
}

STDMETHODIMP CLighting::get_NightStart(BSTR* time) noexcept
{
    return GetTime(time, &LightsOffSettings::nightStart);
}

STDMETHODIMP CLighting::put_NightStart(BSTR time) noexcept
{
    return PutTime(time, &LightsOffSettings::nightStart);
}

STDMETHODIMP CLighting::get_NightEnd(BSTR* time) noexcept
{
    return GetTime(time, &LightsOffSettings::nightEnd);
}

STDMETHODIMP CLighting::put_NightEnd(BSTR time) noexcept
{
    return PutTime(time, &LightsOffSettings::nightEnd);
}

STDMETHODIMP CLighting::LightsOff(LONG minutes) noexcept
{
    if (minutes < 0 || minutes > kLongestOffMinutes)
        return E_INVALIDARG;
    return WithManager([&](LightingManager& manager) {
        manager.LightsOffNow(minutes == 0 ? std::nullopt : std::optional(std::chrono::minutes(minutes)));
    });
}

STDMETHODIMP CLighting::LightsOn() noexcept
{
    return WithManager([&](LightingManager& manager) { manager.LightsOnNow(); });
}

STDMETHODIMP CLighting::get_LightsAreOn(VARIANT_BOOL* on) noexcept
{
    if (!on)
        return E_POINTER;
    return WithManager([&](LightingManager& manager) { *on = Bool(manager.HoldingRules() == 0); });
}

STDMETHODIMP CLighting::get_OffReasons(LONG* rules) noexcept
{
    if (!rules)
        return E_POINTER;
    return WithManager([&](LightingManager& manager) { *rules = static_cast<LONG>(manager.HoldingRules()); });
}

STDMETHODIMP CLighting::get_ChangeCount(LONG* count) noexcept
{
    if (!count)
        return E_POINTER;
    return WithStatus(
        [&](const LightingManager::Status& status) { *count = static_cast<LONG>(status.changes & 0x7FFFFFFF); });
}

IClassFactory* LightingClassFactory() noexcept
{
    static StaticClassFactory<&CLighting::CreateInstance> factory;
    return &factory;
}

} // namespace ovled::win32
