#include "simulator/VirtualBoard.h"

#include <algorithm>
#include <cstring>

namespace ovled::sim {

VirtualBoard::VirtualBoard(Profile profile, platform::IWaitClock& clock) : m_model(m_store, clock)
{
    m_model.Reset(profile);
}

// The bridge's rules for a buffer call: nothing happens without a server; otherwise the reply replaces
// the buffer up to its capacity, and a failed invocation still answers 1 with the buffer as sent.
template <class Serve>
std::uint32_t VirtualBoard::BufferCall(std::uint8_t* buffer, std::uint32_t* length, Serve&& serve)
{
    const std::uint32_t capacity = *length;
    std::vector<std::uint8_t> reply;
    if (serve(std::span<const std::uint8_t>(buffer, capacity), reply)) {
        const std::uint32_t copied = static_cast<std::uint32_t>(std::min<std::size_t>(reply.size(), capacity));
        if (copied > 0)
            std::memcpy(buffer, reply.data(), copied);
        *length = copied;
    }
    return 1;
}

std::uint32_t VirtualBoard::AcpiInit()
{
    if (m_model.ServerMissing())
        return 0;
    return m_model.Init() ? 1 : 0;
}

std::uint32_t VirtualBoard::AcpiGetItem(std::uint32_t id, std::uint32_t* value)
{
    if (m_model.ServerMissing())
        return 0;
    std::uint32_t read = value ? *value : 0;
    const bool ok = m_model.GetItem(id, read);
    if (ok && value)
        *value = read;
    return ok ? 1 : 0;
}

std::uint32_t VirtualBoard::AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value)
{
    if (m_model.ServerMissing())
        return 0;
    std::uint32_t read = value ? *value : 0;
    const bool ok = m_model.GetItemEx(id, parameter, read);
    if (ok && value)
        *value = read;
    return ok ? 1 : 0;
}

std::uint32_t VirtualBoard::AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags)
{
    if (m_model.ServerMissing())
        return 0;
    return m_model.SetItem(id, value, flags) ? 1 : 0;
}

std::uint32_t VirtualBoard::AcpiSetItemBuffer(std::uint32_t, std::uint32_t id, std::uint8_t* buffer,
                                              std::uint32_t* length)
{
    if (m_model.ServerMissing() || !buffer || !length)
        return 0;
    return BufferCall(buffer, length, [&](auto sent, auto& reply) { return m_model.SetItemBuffer(id, sent, reply); });
}

std::uint32_t VirtualBoard::AcpiMbif(std::uint8_t* buffer, std::uint32_t* length)
{
    if (m_model.ServerMissing() || !buffer || !length)
        return 0;
    return BufferCall(buffer, length, [&](auto sent, auto& reply) { return m_model.Mbif(sent, reply); });
}

std::uint32_t VirtualBoard::AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length)
{
    if (m_model.ServerMissing() || !buffer || !length)
        return 0;
    if (*length > 0)
        buffer[0] = 0xE1;
    return BufferCall(buffer, length, [&](auto sent, auto& reply) { return m_model.GroupList(group, sent, reply); });
}

std::uint32_t VirtualBoard::AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer,
                                           std::uint32_t* length)
{
    if (m_model.ServerMissing() || !selector || !buffer || !length)
        return 0;
    const std::uint32_t value = *selector;
    return BufferCall(buffer, length, [&](auto sent, auto& reply) { return m_model.Describe(value, sent, reply); });
}

std::int32_t VirtualBoard::Load()
{
    std::lock_guard lock(m_libraryMutex);
    ++m_loads;
    if (m_library.failingLoads > 0) {
        --m_library.failingLoads;
        return kPortIoNotLoaded;
    }
    if (m_library.openMissing)
        return kPortIoNoOpen;
    ++m_opens;
    return m_library.openFails ? kPortIoOpenFailed : kPortIoReady;
}

bool VirtualBoard::HasPortAccess()
{
    std::lock_guard lock(m_libraryMutex);
    return !m_library.byteAccessMissing;
}

void VirtualBoard::OutPortB(std::uint16_t port, std::uint8_t value)
{
    m_model.OutPortB(port, value);
}

std::uint8_t VirtualBoard::InPortB(std::uint16_t port)
{
    return m_model.InPortB(port);
}

void VirtualBoard::SetPortLibrary(const PortLibraryBehaviour& behaviour)
{
    std::lock_guard lock(m_libraryMutex);
    m_library = behaviour;
}

std::uint32_t VirtualBoard::PortLibraryLoads()
{
    std::lock_guard lock(m_libraryMutex);
    return m_loads;
}

std::uint32_t VirtualBoard::PortLibraryOpens()
{
    std::lock_guard lock(m_libraryMutex);
    return m_opens;
}

} // namespace ovled::sim
