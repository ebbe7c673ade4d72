#include "service/win32/ServiceModule.h"

#include "lighting/win32/LightControl.h"
#include "lighting/win32/ConsoleWatch.h"
#include "lighting/win32/Lighting.h"
#include "platform/Paths.h"
#include "service/CommandLine.h"
#include "service/Identifiers.h"
#include "service/Registration.h"
#include "service/ServiceInstaller.h"
#include "service/win32/Diagnostics.h"
#include "service/win32/TypeLibrary.h"
#include "service/win32/Win32Registry.h"
#include "service/win32/Win32Scm.h"

#include <objbase.h>

#include <cstdio>
#include <utility>

namespace ovled::win32 {
namespace {

std::atomic<COvLedServiceModule*> g_current{nullptr};

std::wstring LoadServiceName()
{
    wchar_t text[256] = {};
    const int length = LoadStringW(GetModuleHandleW(nullptr), service::kServiceNameResource, text, ARRAYSIZE(text));
    return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring(service::kServiceName);
}

wchar_t SystemFoldCase(wchar_t c) noexcept
{
    CharUpperBuffW(&c, 1);
    return c;
}

std::wstring Hex(std::uint32_t value)
{
    wchar_t text[16];
    swprintf(text, ARRAYSIZE(text), L"0x%08X", value);
    return text;
}

} // namespace

// The run sequence's system side: the class table, the shutdown monitor, the message loop.
class COvLedServiceModule::Runtime final : public service::IServerRuntime {
public:
    explicit Runtime(COvLedServiceModule& module) noexcept : m_module(module) {}

    HResult RegisterClassObjects() override
    {
        // Wine ignores REGCLS_SUSPENDED: a client may come and go before the monitor runs, so the event
        // that its last release signals exists before the class object is published.
        if (m_module.m_delayShutdown && !m_module.m_shutdownEvent)
            m_module.m_shutdownEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        const HRESULT result = CoRegisterClassObject(CLSID_LightControl, LightControlClassFactory(),
                                                     CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED,
                                                     &m_module.m_classCookie);
        if (FAILED(result))
            return result;
        const HRESULT lighting = CoRegisterClassObject(CLSID_Lighting, LightingClassFactory(), CLSCTX_LOCAL_SERVER,
                                                       REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED,
                                                       &m_module.m_lightingCookie);
        if (FAILED(lighting))
            (void)RevokeClassObjects(); // both classes or neither
        return lighting;
    }
    HResult ResumeClassObjects() override { return CoResumeClassObjects(); }
    HResult RevokeClassObjects() override
    {
        HRESULT result = S_OK;
        for (DWORD* cookie : {&m_module.m_lightingCookie, &m_module.m_classCookie}) {
            if (*cookie == 0)
                continue;
            const HRESULT revoked = CoRevokeClassObject(*cookie);
            *cookie = 0;
            if (FAILED(revoked) && SUCCEEDED(result))
                result = revoked;
        }
        return result;
    }
    bool StartShutdownMonitor() override
    {
        if (!m_module.m_shutdownEvent)
            m_module.m_shutdownEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!m_module.m_shutdownEvent)
            return false;
        m_module.m_monitorThread.reset(CreateThread(nullptr, 0, &Runtime::Monitor, &m_module, 0, nullptr));
        return static_cast<bool>(m_module.m_monitorThread);
    }
    void StopShutdownMonitor(std::chrono::milliseconds wait) override
    {
        SetEvent(m_module.m_shutdownEvent.get());
        WaitForSingleObject(m_module.m_monitorThread.get(), static_cast<DWORD>(wait.count()));
    }
    void DetachShutdownMonitor() override { m_module.m_monitorThread.reset(); }
    void ReportRunning() override
    {
        if (m_module.IsService())
            m_module.m_controller.ReportRunning();
    }
    void RunMessageLoop() override
    {
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    void Pause(std::chrono::milliseconds duration) override { Sleep(static_cast<DWORD>(duration.count())); }

private:
    // The event stays open after the monitor ends: a late ReleaseLock may still signal it, and a
    // closed handle's value could by then name something else.
    static DWORD WINAPI Monitor(void* parameter) noexcept
    {
        auto& module = *static_cast<COvLedServiceModule*>(parameter);
        WaitForSingleObject(module.m_shutdownEvent.get(), INFINITE);
        PostThreadMessageW(module.m_mainThreadId, WM_QUIT, 0, 0);
        return 0;
    }

    COvLedServiceModule& m_module;
};

// What the service entry asks of the system.
class COvLedServiceModule::ServiceHost final : public service::IServiceHost {
public:
    explicit ServiceHost(COvLedServiceModule& module) noexcept : m_module(module) {}

    std::uint32_t CurrentThreadId() override { return GetCurrentThreadId(); }
    void PrepareMessageQueue() override
    {
        MSG message;
        PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    }
    bool RegisterControlHandler() override
    {
        m_module.m_statusHandle = m_module.m_managerLink.registerHandler(m_module.m_serviceName.c_str(),
                                                                         &COvLedServiceModule::ServiceControlHandler);
        if (!m_module.m_statusHandle)
            return false;
        // The display's state comes as a power event, at once and at every change. Never unregistered:
        // the registration ends with the service's status handle.
        (void)RegisterPowerSettingNotification(m_module.m_statusHandle, &GUID_CONSOLE_DISPLAY_STATE,
                                               DEVICE_NOTIFY_SERVICE_HANDLE);
        return true;
    }
    void ReportStatus(const service::ServiceStatusRecord& record) override
    {
        SERVICE_STATUS status{record.serviceType,
                              record.currentState,
                              record.controlsAccepted,
                              record.win32ExitCode,
                              record.serviceSpecificExitCode,
                              record.checkPoint,
                              record.waitHint};
        // Queued, never written here: this runs under the status lock, which the stop handler needs,
        // and a pipe's reader may never read. The process flushes the queue before it ends.
        SendDiagnostic(L"status", std::to_wstring(record.currentState) + L" exit " + Hex(record.win32ExitCode));
        m_module.m_managerLink.reportStatus(m_module.m_statusHandle, status);
    }
    void LogEvent(std::uint32_t id, std::wstring_view text) override
    {
        win32::LogEvent(m_module.m_serviceName, id, {}, text);
    }
    void PostQuit(std::uint32_t threadId) override { PostThreadMessageW(threadId, WM_QUIT, 0, 0); }
    HResult InitializeCom() override { return CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    bool IsMscoreeLoaded() override { return GetModuleHandleW(L"Mscoree.dll") != nullptr; }
    void UninitializeCom() override { CoUninitialize(); }
    HResult RunServer() override
    {
        m_module.m_delayShutdown = false; // the service never ends through the shutdown monitor
        return m_module.RunServer(SW_HIDE);
    }

private:
    COvLedServiceModule& m_module;
};

COvLedServiceModule::COvLedServiceModule()
    : m_mainThreadId(GetCurrentThreadId()), m_serviceName(LoadServiceName()), m_managerLink(ServiceControlManager()),
      m_serviceHost(std::make_unique<ServiceHost>(*this)), m_controller(*m_serviceHost),
      m_previousModule(SetCurrentModule(this))
{
    g_current.store(this);
}

COvLedServiceModule::~COvLedServiceModule()
{
    COvLedServiceModule* self = this;
    g_current.compare_exchange_strong(self, nullptr);
    SetCurrentModule(m_previousModule);
}

COvLedServiceModule* COvLedServiceModule::Current() noexcept
{
    return g_current.load();
}

COvLedServiceModule::ManagerLink COvLedServiceModule::ServiceControlManager()
{
    return {[](const wchar_t* name, LPHANDLER_FUNCTION_EX handler) {
                return RegisterServiceCtrlHandlerExW(name, handler, nullptr);
            },
            [](SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status) {
                SERVICE_STATUS copy = status;
                SetServiceStatus(handle, &copy); // the result is not checked: nothing could be done about it
            }};
}

long COvLedServiceModule::AddLock() noexcept
{
    return static_cast<long>(CoAddRefServerProcess());
}

long COvLedServiceModule::ReleaseLock() noexcept
{
    if (IsService())
        return --m_lockCount;
    const ULONG count = CoReleaseServerProcess();
    if (count == 0) {
        if (m_delayShutdown)
            SetEvent(m_shutdownEvent.get());
        else
            PostThreadMessageW(m_mainThreadId, WM_QUIT, 0, 0);
    }
    return static_cast<long>(count);
}

bool COvLedServiceModule::HandleCommandLine(const wchar_t* commandLine, HRESULT& exitCode)
{
    const std::wstring modulePath = platform::ExecutablePath().wstring();
    auto machineClasses = RegistryEditor::MachineClasses();
    auto userClasses = RegistryEditor::UserClasses();
    auto machine = RegistryEditor::Machine();
    Win32Scm scm;
    service::ServiceInstaller installer(scm, m_serviceName, [&]() -> std::optional<std::wstring> {
        if (modulePath.empty())
            return std::nullopt;
        return modulePath;
    });
    TypeLibraryRegistrar typeLibrary(modulePath);
    service::Registration registration({machineClasses, userClasses, machine, installer, typeLibrary, m_serviceName,
                                        modulePath,
                                        HresultFromWin32(static_cast<long>(GetLastError()))});

    HResult code = S_OK;
    const bool start = service::HandleCommandLine(commandLine ? commandLine : L"", registration, code, SystemFoldCase);
    exitCode = code;
    return start;
}

service::CommandSwitch COvLedServiceModule::RequestedSwitch(const wchar_t* commandLine) noexcept
{
    try {
        return service::FindSwitch(commandLine ? commandLine : L"", SystemFoldCase);
    } catch (...) {
        return service::CommandSwitch::None;
    }
}

HRESULT COvLedServiceModule::StartModule(int showCommand) noexcept
{
    try {
        UniqueRegKey appIds;
        if (const LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, L"AppID", 0, KEY_READ, appIds.put()))
            return error;
        UniqueRegKey appId;
        if (const LONG error =
                RegOpenKeyExW(appIds.get(), std::wstring(service::kAppId).c_str(), 0, KEY_READ, appId.put()))
            return error;
        wchar_t value[MAX_PATH + 1] = {};
        DWORD size = MAX_PATH * sizeof(wchar_t); // room for the terminator that may be missing
        DWORD type = 0;
        const bool service = RegQueryValueExW(appId.get(), std::wstring(service::kLocalServiceValue).c_str(), nullptr,
                                              &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
                             (type == REG_SZ || type == REG_EXPAND_SZ);
        m_isService = service;
        appId.reset();
        appIds.reset();

        if (service) {
            std::wstring name = m_serviceName;
            SERVICE_TABLE_ENTRYW table[] = {{name.data(), &COvLedServiceModule::ServiceEntry}, {nullptr, nullptr}};
            if (!StartServiceCtrlDispatcherW(table))
                return static_cast<HRESULT>(GetLastError());
            return static_cast<HRESULT>(m_controller.Win32ExitCode());
        }

        // A local server runs in the user's session: its window hears the session and display itself.
        if (m_lightingWindow)
            WatchConsole(*m_lightingWindow);
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const auto outcome = service::ClassifyComInit(com, GetModuleHandleW(L"Mscoree.dll") != nullptr);
        if (outcome == service::ComInitOutcome::Failed)
            return com;
        m_comInitialized = outcome == service::ComInitOutcome::Initialized;
        return RunServer(showCommand);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT COvLedServiceModule::RunServer(int) noexcept
{
    try {
        Runtime runtime(*this);
        bool delayShutdown = m_delayShutdown;
        const HRESULT result = service::RunServer(runtime, delayShutdown, m_timing);
        m_delayShutdown = delayShutdown;
        if (const auto ended = std::exchange(m_servingEnded, nullptr))
            ended();
        return result;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

void WINAPI COvLedServiceModule::ServiceEntry(DWORD, LPWSTR*)
{
    try {
        if (COvLedServiceModule* module = Current())
            module->m_controller.ServiceEntry();
    } catch (...) {
    }
}

DWORD WINAPI COvLedServiceModule::ServiceControlHandler(DWORD control, DWORD eventType, void* eventData, void*)
{
    try {
        COvLedServiceModule* module = Current();
        if (!module)
            return NO_ERROR;
        module->m_controller.ControlHandler(control);
        // The service's window lives in no user's session: the console's lock and display state come
        // here and go on to the window, whose thread tells the lighting.
        if (PowerWindowHolder* window = module->m_lightingWindow) {
            if (control == SERVICE_CONTROL_SESSIONCHANGE && eventData) {
                const auto* change = static_cast<const WTSSESSION_NOTIFICATION*>(eventData);
                if (const auto locked = ConsoleLockedAfterEvent(eventType, change->dwSessionId))
                    ReportConsoleLocked(*window, *locked);
            } else if (control == SERVICE_CONTROL_POWEREVENT && eventType == PBT_POWERSETTINGCHANGE) {
                if (const auto off = DisplayOffFromSetting(static_cast<const POWERBROADCAST_SETTING*>(eventData)))
                    ReportDisplayOff(*window, *off);
            }
        }
    } catch (...) {
    }
    return NO_ERROR;
}

} // namespace ovled::win32
