// HeldAutomationTransport: the service's firmware transport. A thread that begins a session
// (platform/ThreadSession.h) gets a connection to the automation server held for the session: one server
// instance, created by the thread's first call, with each method's dispatch id looked up once, used only
// on that thread (so only in the apartment that made it) and released on it when the session ends. A
// call that finds its server gone (the server process ended or was killed) drops the connection and is
// tried once more on a fresh server. Calls outside any session create a server per call, as the exports
// do. After a creation fails, none is tried again for a second: calls in between fail at once. Results,
// buffers and lengths are the bridge's (hardware/win32/AcpiBridge.h).
// Owned by the service's composition root; any thread that has initialised COM.
#pragma once

#include "hardware/FirmwareTransport.h"
#include "platform/ThreadSession.h"

#include <windows.h>

#include <oaidl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

namespace ovled {

// How the service activates the automation server: as a local server, and as the activator where its
// registration says so. The service's process refuses activate-as-activator launches (EOAC_DISABLE_AAA,
// service/win32/ComSecurity.h), since a server launched so would run as LocalSystem; the board maker's
// server is the one trusted exception.
inline constexpr DWORD kServiceServerActivation = CLSCTX_LOCAL_SERVER | CLSCTX_ENABLE_AAA;

class HeldAutomationTransport final : public IFirmwareTransport, public platform::IThreadSessions {
public:
    // Creates one server instance; the default creates "bivorCom.axdata" with kServiceServerActivation.
    using ServerFactory = std::function<HRESULT(IDispatch** server)>;
    static constexpr std::chrono::milliseconds kCreationRetry{1000};

    explicit HeldAutomationTransport(ServerFactory create = {});
    HeldAutomationTransport(const HeldAutomationTransport&) = delete;
    HeldAutomationTransport& operator=(const HeldAutomationTransport&) = delete;

    // A session of this transport on the calling thread; null when the thread already has one (the
    // outer one serves) or no memory is left. It must end on the thread that began it.
    std::unique_ptr<platform::IThreadSession> Begin() noexcept override;

    std::uint32_t AcpiInit() override;
    std::uint32_t AcpiGetItem(std::uint32_t id, std::uint32_t* value) override;
    std::uint32_t AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value) override;
    std::uint32_t AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) override;
    std::uint32_t AcpiSetItemBuffer(std::uint32_t ignored, std::uint32_t id, std::uint8_t* buffer,
                                    std::uint32_t* length) override;
    std::uint32_t AcpiMbif(std::uint8_t* buffer, std::uint32_t* length) override;
    std::uint32_t AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length) override;
    std::uint32_t AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer, std::uint32_t* length) override;

    // How many server instances were asked for (successfully or not), and how many sessions are open.
    long Creations() const noexcept { return m_creations.load(); }
    long OpenSessions() const noexcept { return m_openSessions.load(); }

private:
    class Session;
    friend class Session;
    class Caller;

    template <class Operation>
    std::uint32_t Run(Operation&& operation) noexcept;
    // A new server instance, unless a creation failed less than kCreationRetry ago.
    HRESULT Create(IDispatch** server) noexcept;

    const ServerFactory m_create;
    std::mutex m_gateMutex;
    std::chrono::steady_clock::time_point m_retryAt{};
    HRESULT m_lastFailure = S_OK;
    std::atomic<long> m_creations{0};
    std::atomic<long> m_openSessions{0};
};

} // namespace ovled
