// The service's status as the app shows it (the status line, the tray icon and its tooltip), and how a
// failed call or the service control manager's answer becomes one. Pure functions; any thread.
#pragma once

#include "app/LightingService.h"

namespace ovled::app {

enum class ServiceStatus {
    Connecting,   // nothing known yet, or a connection being made
    Running,      // connected, answering
    Starting,     // the service control manager is starting it
    Stopped,      // installed, not running (or stopping)
    NotInstalled, // no service and no class registered
    AccessDenied, // this account may not call it
    NotAnswering, // a call has run past the time limit
    Failed,       // it answered with an error the app does not know
};

// What a failure of Connect or of a call says of the service. `state` is the service control manager's
// answer, asked after the failure: a server that went away is stopped, starting or restarting.
ServiceStatus StatusFromFailure(HResult failure, ServiceState state) noexcept;

// What the service control manager's answer alone says, before any connection.
ServiceStatus StatusFromServiceState(ServiceState state) noexcept;

// Whether a connection should be attempted in that state: a stopped service is not started by the
// app; an unknown or absent service may still be an on-demand COM server.
bool MayConnect(ServiceState state) noexcept;

// The tray icon: the lights on, off, or a problem with the service.
enum class TrayIconKind { On, Off, Problem };

} // namespace ovled::app
