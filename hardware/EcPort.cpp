#include "hardware/EcPort.h"


namespace ovled {
namespace {

constexpr std::chrono::milliseconds kPause{1};

} // namespace

std::int32_t EcPort::ReadRegister(std::int32_t bank, std::int32_t address)
{
    std::lock_guard lock(m_mutex);
    if (!ReadyLocked())
        return 0;
    WriteByteLocked(ec::kBankRegister, bank);
    return ReadByteLocked(address);
}

void EcPort::WriteRegister(std::int32_t bank, std::int32_t address, std::int32_t value)
{
    std::lock_guard lock(m_mutex);
    if (!ReadyLocked())
        return;
    WriteByteLocked(ec::kBankRegister, bank);
    WriteByteLocked(address, value);
}

std::int32_t EcPort::ReadByte(std::int32_t address)
{
    std::lock_guard lock(m_mutex);
    return ReadyLocked() ? ReadByteLocked(address) : 0;
}

void EcPort::WriteByte(std::int32_t address, std::int32_t value)
{
    std::lock_guard lock(m_mutex);
    if (ReadyLocked())
        WriteByteLocked(address, value);
}

std::int32_t EcPort::LoadPortLibrary()
{
    std::lock_guard lock(m_mutex);
    ReadyLocked();
    return m_loadResult;
}

bool EcPort::ReadyLocked()
{
    if (!m_loaded) {
        m_loadResult = m_ports.Load();
        m_loaded = m_loadResult != kPortIoNotLoaded;
    }
    return m_loaded && m_ports.HasPortAccess();
}

// Before every port write: one look at the input buffer, and at most one pause. The controller is
// never waited for beyond that; a busy controller gets the byte anyway.
void EcPort::WaitLocked()
{
    if (m_ports.InPortB(ec::kStatusPort) & ec::kInputBufferFull) {
        if (m_ports.InPortB(ec::kStatusPort) & ec::kBusyMask)
            m_clock.Sleep(kPause);
    }
}

// The start of every transaction: the command, then the controller address.
void EcPort::BeginTransactionLocked(std::uint8_t command, std::int32_t address)
{
    WaitLocked();
    m_ports.OutPortB(ec::kStatusPort, command);
    WaitLocked();
    WaitLocked();
    m_ports.OutPortB(ec::kDataPort, static_cast<std::uint8_t>(address));
    WaitLocked();
}

void EcPort::WriteByteLocked(std::int32_t address, std::int32_t value)
{
    BeginTransactionLocked(ec::kWriteCommand, address);
    WaitLocked();
    m_ports.OutPortB(ec::kDataPort, static_cast<std::uint8_t>(value));
    WaitLocked();
}

std::int32_t EcPort::ReadByteLocked(std::int32_t address)
{
    BeginTransactionLocked(ec::kReadCommand, address);
    if (!(m_ports.InPortB(ec::kStatusPort) & ec::kOutputBufferFull))
        m_clock.Sleep(kPause);
    return m_ports.InPortB(ec::kDataPort);
}

} // namespace ovled
