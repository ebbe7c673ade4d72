// ServiceController: the service side of the host. The service entry (run by the dispatcher on the
// service thread), the control handler (run by the dispatcher on the main thread), the status record
// and its reports, and the service's event messages. Owned by the service module; the operating
// system is reached only through IServiceHost, so the whole sequence runs under test with a fake.
#pragma once

#include "platform/Clock.h"
#include "platform/Hresult.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

namespace ovled::service {

// Service states and controls, with the platform's values.
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr std::uint32_t kServiceAcceptStop = 1;
// The console's session changes and the display's power setting reach the handler for the lights-off
// rules; suspend and resume keep coming to the power event window.
inline constexpr std::uint32_t kServiceAcceptPowerEvent = 0x40;
inline constexpr std::uint32_t kServiceAcceptSessionChange = 0x80;
inline constexpr std::uint32_t kServiceAccepted = kServiceAcceptStop | kServiceAcceptPowerEvent | kServiceAcceptSessionChange;
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlShutdown = 5;
inline constexpr std::uint32_t kControlPowerEvent = 13;
inline constexpr std::uint32_t kControlSessionChange = 14;
// Codes that any interactive user may send to any service (SERVICE_USER_DEFINED_CONTROL is in the
// default rights of INTERACTIVE); the rest reach the handler only when the service accepts them.
inline constexpr std::uint32_t kFirstUserControl = 128;
inline constexpr std::uint32_t kLastUserControl = 255;
// A user-defined code is logged at most this often: each one costs an event-log entry, and anyone may
// send thousands a second.
inline constexpr std::chrono::seconds kUserControlLogInterval{60};

// The event texts: the messages of the executable's message table under the ids of platform/EventIds.h
// (kServiceStarted ...), as the diagnostic pipe and tests see them.
inline constexpr std::wstring_view kEventStarted = L"Service started/resumed";
inline constexpr std::wstring_view kEventStopped = L"Service stopped";
inline constexpr std::wstring_view kEventHandlerNotInstalled = L"Handler not installed";
inline constexpr std::wstring_view kEventBadRequest = L"Bad service request";
// Event messages are cut to this many UTF-16 units.
inline constexpr size_t kEventTextLimit = 255;

// The fields of the platform's SERVICE_STATUS, in its order.
struct ServiceStatusRecord {
    std::uint32_t serviceType = kServiceWin32OwnProcess;
    std::uint32_t currentState = kServiceStopped;
    std::uint32_t controlsAccepted = kServiceAccepted;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

// How a thread's COM initialisation turned out.
enum class ComInitOutcome {
    Initialized, // this thread initialised COM and must uninitialise it
    UseExisting, // the thread already runs in another apartment that the runtime's host set up
    Failed,
};
// RPC_E_CHANGED_MODE is tolerated only when the managed runtime's loader ("Mscoree.dll") is in the
// process: it then owns the thread's apartment.
ComInitOutcome ClassifyComInit(HResult result, bool mscoreeLoaded) noexcept;

// What the service entry needs from the operating system and from the module.
class IServiceHost {
public:
    virtual ~IServiceHost() = default;
    virtual std::uint32_t CurrentThreadId() = 0;
    // Gives the calling thread its message queue, so that a stop posted to it before the server's
    // message loop starts is kept rather than lost.
    virtual void PrepareMessageQueue() = 0;
    // Registers the control handler with the service control manager; false when that fails.
    virtual bool RegisterControlHandler() = 0;
    virtual void ReportStatus(const ServiceStatusRecord& status) = 0;
    // An event of the executable's message table (platform/EventIds.h) without inserts; `text` is its
    // message, for channels that have no table.
    virtual void LogEvent(std::uint32_t id, std::wstring_view text) = 0;
    virtual void PostQuit(std::uint32_t threadId) = 0;
    virtual HResult InitializeCom() = 0;
    virtual bool IsMscoreeLoaded() = 0;
    virtual void UninitializeCom() = 0;
    // The module's run sequence (class object, message loop, revocation) without the shutdown monitor.
    virtual HResult RunServer() = 0;
};

class ServiceController {
public:
    // `clock` paces the log of user-defined control codes.
    explicit ServiceController(IServiceHost& host, platform::IWaitClock& clock = platform::SystemClock()) noexcept
        : m_host(host), m_clock(clock)
    {
    }

    // The service's main function: registers the handler, reports start-pending, runs the server on
    // this thread until a stop, and reports stopped with the run's result as the Win32 exit code.
    void ServiceEntry();
    // Stop requests the stop; pause, continue, interrogate, shutdown, power events and session changes
    // (whose data the module decodes) change nothing here; any other code is logged as a bad request, a
    // user-defined one at most once a minute.
    void ControlHandler(std::uint32_t control);
    // Reports stop-pending and ends the service thread's message loop.
    void RequestStop();
    // Replaces the current state and reports the whole record.
    void SetServiceState(std::uint32_t state);
    // Called by the run sequence once the class object is registered and before it is resumed: moves
    // start-pending to running, logging first. A stop that came during start-up is never overwritten.
    void ReportRunning();
    void LogServiceEvent(std::uint32_t id, std::wstring_view message);

    ServiceStatusRecord Status() const;
    std::uint32_t CurrentState() const noexcept { return m_state.load(); }
    std::uint32_t Win32ExitCode() const;

private:
    ServiceStatusRecord RecordLocked() const;

    // True when a user-defined code may be logged now (and then not again for a minute).
    bool UserControlMayBeLogged();

    IServiceHost& m_host;
    platform::IWaitClock& m_clock;
    std::mutex m_userControlMutex;
    std::optional<platform::IWaitClock::TimePoint> m_userControlLogged;
    std::atomic<std::uint32_t> m_state{kServiceStopped};
    std::atomic<std::uint32_t> m_serviceThreadId{0};
    // Serialises a state change with its report, so that the reports reach the service control
    // manager in the order of the changes, whichever thread makes them.
    mutable std::mutex m_reportMutex;
    ServiceStatusRecord m_fields; // every field except the current state
};

} // namespace ovled::service
