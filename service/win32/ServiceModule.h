// COvLedServiceModule: the process's one service module. It holds the module locks that keep a local
// server alive, the class table (one entry: LightControl), the run sequence that publishes the class
// object and pumps messages, the choice between service and local-server mode, and the service's
// status (through its ServiceController). One static instance is built during static initialisation
// and installs itself as the current module; the main thread, the service thread, the shutdown
// monitor and COM's threads (through the locks) call it.
#pragma once

#include "lighting/win32/ComServerModule.h"
#include "lighting/win32/PowerEventWindow.h"
#include "platform/win32/Unique.h"
#include "service/CommandLine.h"
#include "service/ServerRun.h"
#include "service/ServiceControl.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace ovled::win32 {

class COvLedServiceModule final : public IComServerModule {
public:
    COvLedServiceModule();
    ~COvLedServiceModule() override;
    COvLedServiceModule(const COvLedServiceModule&) = delete;
    COvLedServiceModule& operator=(const COvLedServiceModule&) = delete;

    // The module that the service callbacks reach: the last one constructed.
    static COvLedServiceModule* Current() noexcept;

    // A lock takes a server-process reference in both modes. Releasing it: a local server lets go of
    // the reference and, at zero, ends through the shutdown monitor (or at once with delayed shutdown
    // off); a service only counts down its own lock count, so the service serves until it is stopped.
    long AddLock() noexcept override;
    long ReleaseLock() noexcept override;
    long LockCount() const noexcept { return m_lockCount.load(); }

    // Runs the switch the command line names; false then, with its result in `exitCode`. True when
    // there is none and the module is to be started.
    bool HandleCommandLine(const wchar_t* commandLine, HRESULT& exitCode);
    // The switch HandleCommandLine would run, found the same way (the system's case folding).
    static service::CommandSwitch RequestedSwitch(const wchar_t* commandLine) noexcept;
    // Reads the AppID key: with "LocalService" hands the main thread to the service control manager,
    // otherwise runs the local server on it. Returns the process exit code.
    HRESULT StartModule(int showCommand) noexcept;
    // The run sequence; then, once, what SetServingEnded asked for.
    HRESULT RunServer(int showCommand) noexcept;
    // Work for the end of serving, before the service reports stopped (or the local server's main thread
    // returns): the process entry ends the lighting's threads there, so nothing they hold outlives the run.
    void SetServingEnded(std::function<void()> ended) { m_servingEnded = std::move(ended); }
    // The power event window, to which the console's session and display changes go: from the control
    // handler in the service, from the window's own notifications in a local server.
    void SetLightingWindow(PowerWindowHolder* window) noexcept { m_lightingWindow = window; }

    // The dispatcher's entry points.
    static void WINAPI ServiceEntry(DWORD argumentCount, LPWSTR* arguments);
    static DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, void* eventData, void* context);

    const std::wstring& ServiceName() const noexcept { return m_serviceName; }
    bool IsService() const noexcept { return m_isService.load(); }
    bool ComInitialized() const noexcept { return m_comInitialized; }
    service::ServiceController& Controller() noexcept { return m_controller; }

    // The link to the service control manager: how the control handler is registered and how a status
    // is reported. Tests that run the service entry in process stand in for both.
    struct ManagerLink {
        std::function<SERVICE_STATUS_HANDLE(const wchar_t*, LPHANDLER_FUNCTION_EX)> registerHandler;
        std::function<void(SERVICE_STATUS_HANDLE, const SERVICE_STATUS&)> reportStatus;
    };
    static ManagerLink ServiceControlManager();
    void SetManagerLink(ManagerLink link) { m_managerLink = std::move(link); }

private:
    class Runtime;
    class ServiceHost;
    friend class Runtime;
    friend class ServiceHost;

    std::atomic<long> m_lockCount{0};
    const DWORD m_mainThreadId;
    UniqueHandle m_shutdownEvent; // created by the first monitor, kept until the module goes
    UniqueHandle m_monitorThread;
    const service::ServerTiming m_timing;
    std::atomic<bool> m_delayShutdown{true};
    bool m_comInitialized = false;
    std::wstring m_serviceName;
    SERVICE_STATUS_HANDLE m_statusHandle = nullptr;
    std::atomic<bool> m_isService{true};
    DWORD m_classCookie = 0;    // the class table: LightControl
    DWORD m_lightingCookie = 0; // and Lighting
    ManagerLink m_managerLink;
    std::function<void()> m_servingEnded;
    PowerWindowHolder* m_lightingWindow = nullptr;
    std::unique_ptr<ServiceHost> m_serviceHost;
    service::ServiceController m_controller;
    IComServerModule* m_previousModule;
};

} // namespace ovled::win32
