// ServiceSession: the app's conversation with the service, one round at a time: (re)connect when the
// service control manager says it may, apply the changes a person asked for, then read what changed.
// A server that went away is dropped and reconnected later without anyone asking. Owned and run by the
// worker thread only (app/ServiceWorker.h); tests run rounds directly over a fake.
#pragma once

#include "app/LightingState.h"
#include "app/ServiceStatus.h"

#include <chrono>
#include <memory>
#include <vector>

namespace ovled::app {

struct Snapshot {
    ServiceStatus status = ServiceStatus::Connecting;
    HResult failure = kSOk; // the call's answer behind Failed, AccessDenied and NotAnswering
    HResult refused = kSOk; // the last change the service refused or never got, until one is accepted
    bool known = false;     // `state` holds what the service answered (it is kept while it is away)
    LightingState state;

    bool operator==(const Snapshot&) const = default;
};

class ServiceSession {
public:
    using Clock = std::chrono::steady_clock;
    // How often a service that is away is looked for again: the control manager is asked at most this
    // often, and COM activation, which may start a server, no more often.
    static constexpr auto kRetryPeriod = std::chrono::seconds(1);
    // After an activation that failed (no class, no access): each try costs a round trip to the COM
    // service, and what it needs (an installation, a policy) takes an administrator longer than this.
    static constexpr auto kFailedActivationRetryPeriod = std::chrono::seconds(5);

    explicit ServiceSession(ILightingConnector& connector) noexcept : m_connector(connector) {}

    // One round. Everything is read when `full`, after a change, after a (re)connection or when the
    // service's change count moved; otherwise only the change count, and the colours when `colours`.
    void Round(const std::vector<Command>& commands, bool colours, bool full, Clock::time_point now);
    const Snapshot& Current() const noexcept { return m_snapshot; }
    bool Connected() const noexcept { return m_service != nullptr; }
    // Drops the connection (the thread's end: COM objects go before the apartment).
    void Disconnect() noexcept { m_service.reset(); }

private:
    bool EnsureConnected(Clock::time_point now);
    void Fail(HResult failure);

    ILightingConnector& m_connector;
    std::unique_ptr<ILightingService> m_service;
    Snapshot m_snapshot;
    Clock::time_point m_nextAttempt{};
    bool m_readAll = true;
};

} // namespace ovled::app
