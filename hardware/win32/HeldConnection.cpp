#include "hardware/win32/HeldConnection.h"

#include "hardware/win32/AcpiBridge.h"
#include "platform/Hresult.h"
#include "platform/win32/Unique.h"

#include <array>
#include <new>

namespace ovled {
namespace {

constexpr std::size_t kMethods = static_cast<std::size_t>(AcpiMethod::Count);

// A server instance and the dispatch ids looked up on it.
struct Connection {
    win32::ComPtr<IDispatch> server;
    std::array<DISPID, kMethods> ids{};
    std::array<bool, kMethods> known{};

    void Drop() noexcept
    {
        server.reset();
        known.fill(false);
    }

    HRESULT Invoke(AcpiMethod method, VARIANT* result, UINT count, const VARIANT* arguments) noexcept
    {
        const auto index = static_cast<std::size_t>(method);
        if (!known[index]) {
            const HRESULT hr = LookUpDispatchId(server.get(), AcpiMethodName(method), ids[index]);
            if (FAILED(hr))
                return hr;
            known[index] = true;
        }
        return InvokeById(DISPATCH_METHOD, result, server.get(), ids[index], count, arguments);
    }
};

} // namespace

// The innermost session of the calling thread, whichever transport it belongs to.
class HeldAutomationTransport::Session final : public platform::IThreadSession {
public:
    explicit Session(HeldAutomationTransport& owner) noexcept : m_owner(owner), m_previous(t_innermost)
    {
        t_innermost = this;
        ++m_owner.m_openSessions;
    }
    ~Session() override
    {
        m_connection.Drop(); // on the thread, in the apartment, that made it
        t_innermost = m_previous;
        --m_owner.m_openSessions;
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The calling thread's session of `owner`, or null.
    static Session* Find(const HeldAutomationTransport& owner) noexcept
    {
        for (Session* session = t_innermost; session; session = session->m_previous) {
            if (&session->m_owner == &owner)
                return session;
        }
        return nullptr;
    }

    Connection& Held() noexcept { return m_connection; }

private:
    static thread_local Session* t_innermost;

    HeldAutomationTransport& m_owner;
    Session* const m_previous;
    Connection m_connection;
};

thread_local HeldAutomationTransport::Session* HeldAutomationTransport::Session::t_innermost = nullptr;

// One operation's way to a server: the session's held connection (tried once more on a fresh server when
// its server went away), or an instance for this operation alone.
class HeldAutomationTransport::Caller final : public IAcpiCaller {
public:
    explicit Caller(HeldAutomationTransport& owner) noexcept : m_owner(owner)
    {
        Session* session = Session::Find(owner);
        m_connection = session ? &session->Held() : &m_ownConnection;
        m_held = session != nullptr;
    }

    HRESULT Reach() noexcept override
    {
        return m_connection->server ? S_OK : m_owner.Create(m_connection->server.put());
    }

    HRESULT Invoke(AcpiMethod method, VARIANT* result, UINT count, const VARIANT* arguments) noexcept override
    {
        HRESULT hr = m_connection->Invoke(method, result, count, arguments);
        if (!m_held || !ServerWentAway(hr))
            return hr;
        // Nothing came back from a server that is gone: the arguments are as they were sent.
        m_connection->Drop();
        if (FAILED(Reach()))
            return hr;
        return m_connection->Invoke(method, result, count, arguments);
    }

private:
    HeldAutomationTransport& m_owner;
    Connection m_ownConnection;
    Connection* m_connection = nullptr;
    bool m_held = false;
};

HeldAutomationTransport::HeldAutomationTransport(ServerFactory create) : m_create(std::move(create)) {}

std::unique_ptr<platform::IThreadSession> HeldAutomationTransport::Begin() noexcept
{
    if (Session::Find(*this))
        return nullptr;
    return std::unique_ptr<platform::IThreadSession>(new (std::nothrow) Session(*this));
}

HRESULT HeldAutomationTransport::Create(IDispatch** server) noexcept
{
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(m_gateMutex);
        if (now < m_retryAt)
            return m_lastFailure;
    }
    ++m_creations;
    HRESULT hr = E_UNEXPECTED;
    try {
        hr = m_create ? m_create(server) : CreateAcpiServer(kAcpiServerProgId, server, kServiceServerActivation);
    } catch (...) {
    }
    std::lock_guard lock(m_gateMutex);
    if (FAILED(hr)) {
        m_retryAt = std::chrono::steady_clock::now() + kCreationRetry;
        m_lastFailure = hr;
    } else {
        m_retryAt = {};
    }
    return hr;
}

template <class Operation>
std::uint32_t HeldAutomationTransport::Run(Operation&& operation) noexcept
{
    Caller caller(*this);
    return operation(caller);
}

std::uint32_t HeldAutomationTransport::AcpiInit()
{
    return Run([](Caller& caller) { return acpi::Init(caller); });
}

std::uint32_t HeldAutomationTransport::AcpiGetItem(std::uint32_t id, std::uint32_t* value)
{
    return Run([&](Caller& caller) { return acpi::GetItem(caller, id, value); });
}

std::uint32_t HeldAutomationTransport::AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value)
{
    return Run([&](Caller& caller) { return acpi::GetItemEx(caller, id, parameter, value); });
}

std::uint32_t HeldAutomationTransport::AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags)
{
    return Run([&](Caller& caller) { return acpi::SetItem(caller, id, value, flags); });
}

std::uint32_t HeldAutomationTransport::AcpiSetItemBuffer(std::uint32_t, std::uint32_t id, std::uint8_t* buffer,
                                                         std::uint32_t* length)
{
    return Run([&](Caller& caller) { return acpi::SetItemBuffer(caller, id, buffer, length); });
}

std::uint32_t HeldAutomationTransport::AcpiMbif(std::uint8_t* buffer, std::uint32_t* length)
{
    return Run([&](Caller& caller) { return acpi::Mbif(caller, buffer, length); });
}

std::uint32_t HeldAutomationTransport::AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length)
{
    return Run([&](Caller& caller) { return acpi::GGrp(caller, group, buffer, length); });
}

std::uint32_t HeldAutomationTransport::AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer,
                                                      std::uint32_t* length)
{
    return Run([&](Caller& caller) { return acpi::CallMethod(caller, selector, buffer, length); });
}

} // namespace ovled
