#include "app/win32/ComLighting.h"

#include "platform/win32/Unique.h"
#include "service/Identifiers.h"

#include <OvLedService_h.h>

#include <optional>
#include <string>

namespace ovled::app::win32 {
namespace {

using ovled::win32::ComPtr;
using ovled::win32::ScopedComInit;
using ovled::win32::UniqueBstr;
using ovled::win32::UniqueServiceHandle;

// `value` by reference: the call that fills it is an argument of the same call, and arguments are
// evaluated in no fixed order (a copy taken first read every VARIANT_BOOL as false).
HResult ReadBool(HRESULT result, const VARIANT_BOOL& value, bool& out)
{
    if (SUCCEEDED(result))
        out = value != VARIANT_FALSE;
    return result;
}

HResult ReadText(HRESULT result, UniqueBstr& text, std::wstring& out)
{
    if (SUCCEEDED(result))
        out.assign(text.get() ? text.get() : L"", text.get() ? SysStringLen(text.get()) : 0u);
    return result;
}

class ComLightingService final : public ILightingService {
public:
    ComLightingService(ComPtr<ILighting> lighting, ComPtr<ILightControl> control)
        : m_lighting(std::move(lighting)), m_control(std::move(control))
    {
    }

    HResult DeviceCount(std::int32_t& count) override { return Long(m_lighting->get_DeviceCount(&m_long), count); }
    HResult DeviceKind(int device, std::int32_t& kind) override
    {
        return Long(m_lighting->get_DeviceKind(device, &m_long), kind);
    }
    HResult DeviceName(int device, std::wstring& name) override
    {
        UniqueBstr text;
        return ReadText(m_lighting->get_DeviceName(device, text.put()), text, name);
    }
    HResult DeviceMode(int device, std::int32_t& mode) override
    {
        return Long(m_lighting->get_DeviceMode(device, &m_long), mode);
    }
    HResult DeviceOn(int device, bool& on) override
    {
        VARIANT_BOOL value = VARIANT_FALSE;
        return ReadBool(m_lighting->get_DeviceOn(device, &value), value, on);
    }
    HResult DeviceColour(int device, std::int32_t& colour) override
    {
        return Long(m_lighting->get_DeviceColour(device, &m_long), colour);
    }
    HResult Brightness(std::int32_t& percent) override { return Long(m_lighting->get_Brightness(&m_long), percent); }
    HResult SetBrightness(std::int32_t percent) override { return m_lighting->put_Brightness(percent); }
    HResult Rule(OffRule rule, bool& on) override
    {
        VARIANT_BOOL value = VARIANT_FALSE;
        switch (rule) {
        case OffRule::Locked:
            return ReadBool(m_lighting->get_OffWhenLocked(&value), value, on);
        case OffRule::DisplayOff:
            return ReadBool(m_lighting->get_OffWhenDisplayOff(&value), value, on);
        case OffRule::Night:
            return ReadBool(m_lighting->get_OffAtNight(&value), value, on);
        }
        return E_INVALIDARG;
    }
    HResult SetRule(OffRule rule, bool on) override
    {
        const VARIANT_BOOL value = on ? VARIANT_TRUE : VARIANT_FALSE;
        switch (rule) {
        case OffRule::Locked:
            return m_lighting->put_OffWhenLocked(value);
        case OffRule::DisplayOff:
            return m_lighting->put_OffWhenDisplayOff(value);
        case OffRule::Night:
            return m_lighting->put_OffAtNight(value);
        }
        return E_INVALIDARG;
    }
    HResult NightTime(bool end, std::wstring& time) override
    {
        UniqueBstr text;
        return ReadText(end ? m_lighting->get_NightEnd(text.put()) : m_lighting->get_NightStart(text.put()), text,
                        time);
    }
    HResult SetNightTime(bool end, const std::wstring& time) override
    {
        UniqueBstr text(SysAllocStringLen(time.data(), static_cast<UINT>(time.size())));
        if (!text)
            return E_OUTOFMEMORY;
        return end ? m_lighting->put_NightEnd(text.get()) : m_lighting->put_NightStart(text.get());
    }
    HResult LightsOff(std::int32_t minutes) override { return m_lighting->LightsOff(minutes); }
    HResult LightsOn() override { return m_lighting->LightsOn(); }
    HResult LightsAreOn(bool& on) override
    {
        VARIANT_BOOL value = VARIANT_FALSE;
        return ReadBool(m_lighting->get_LightsAreOn(&value), value, on);
    }
    HResult OffReasons(std::int32_t& rules) override { return Long(m_lighting->get_OffReasons(&m_long), rules); }
    HResult ChangeCount(std::int32_t& count) override { return Long(m_lighting->get_ChangeCount(&m_long), count); }
    HResult SetModeByIndex(int index, int mode) override
    {
        return m_control->put_ModeByIndex(static_cast<SHORT>(index), static_cast<SHORT>(mode));
    }

private:
    HResult Long(HRESULT result, std::int32_t& out)
    {
        if (SUCCEEDED(result))
            out = static_cast<std::int32_t>(m_long);
        return result;
    }

    ComPtr<ILighting> m_lighting;
    ComPtr<ILightControl> m_control;
    LONG m_long = 0;
};

// Whether a process has ended; false when that cannot be told (a process this user may not open).
bool ProcessEnded(DWORD id) noexcept
{
    if (id == 0)
        return false;
    const ovled::win32::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process)
        return GetLastError() == ERROR_INVALID_PARAMETER; // no such process
    return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

class ComConnector final : public ILightingConnector {
public:
    void ThreadStarted() noexcept override
    {
        m_apartment.emplace(COINIT_MULTITHREADED);
    }

    void ThreadEnding() noexcept override { m_apartment.reset(); }

    ServiceState QueryServiceState() noexcept override
    {
        const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (!manager)
            return ServiceState::Unknown;
        const UniqueServiceHandle service(
            OpenServiceW(manager.get(), std::wstring(service::kServiceName).c_str(), SERVICE_QUERY_STATUS));
        if (!service)
            return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ServiceState::NotInstalled : ServiceState::Unknown;
        SERVICE_STATUS_PROCESS status{};
        DWORD size = 0;
        if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                  sizeof status, &size))
            return ServiceState::Unknown;
        switch (status.dwCurrentState) {
        case SERVICE_RUNNING:
        case SERVICE_CONTINUE_PENDING:
        case SERVICE_PAUSE_PENDING:
        case SERVICE_PAUSED:
            // A process that was killed is stopped, even while the control manager still says it runs
            // (Wine's never notices).
            return ProcessEnded(status.dwProcessId) ? ServiceState::Stopped : ServiceState::Running;
        case SERVICE_START_PENDING:
            return ServiceState::StartPending;
        case SERVICE_STOP_PENDING:
            return ServiceState::StopPending;
        default:
            return ServiceState::Stopped;
        }
    }

    HResult Connect(std::unique_ptr<ILightingService>& service) noexcept override
    {
        ComPtr<ILighting> lighting;
        HRESULT result = CoCreateInstance(CLSID_Lighting, nullptr, CLSCTX_LOCAL_SERVER, IID_ILighting,
                                          lighting.put_void());
        ComPtr<ILightControl> control;
        if (SUCCEEDED(result))
            result = CoCreateInstance(CLSID_LightControl, nullptr, CLSCTX_LOCAL_SERVER, IID_ILightControl,
                                      control.put_void());
        if (FAILED(result))
            return result;
        try {
            service = std::make_unique<ComLightingService>(std::move(lighting), std::move(control));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

private:
    std::optional<ScopedComInit> m_apartment;
};

} // namespace

std::unique_ptr<ILightingConnector> MakeComConnector()
{
    return std::make_unique<ComConnector>();
}

} // namespace ovled::app::win32
