// EcPort: registers of the board's ACPI embedded controller, reached through the port-I/O seam with
// the controller's command protocol (status/command port 0x66, data port 0x62, read 0x80, write 0x81)
// and this board's banks (bank number written to controller address 0xFF before each access).
// One per Board (the process's is owned by the composition root); thread-safe: a register access (bank
// select + access) is one unit under the port's mutex, so the music colour thread and the controllers never
// interleave mid-access.
#pragma once

#include "hardware/PortIo.h"
#include "platform/Clock.h"

#include <cstdint>
#include <mutex>

namespace ovled {

namespace ec {
inline constexpr std::uint16_t kStatusPort = 0x66;
inline constexpr std::uint16_t kDataPort = 0x62;
inline constexpr std::uint8_t kReadCommand = 0x80;
inline constexpr std::uint8_t kWriteCommand = 0x81;
inline constexpr std::uint8_t kOutputBufferFull = 0x01;
inline constexpr std::uint8_t kInputBufferFull = 0x02;
inline constexpr std::uint8_t kBusyMask = 0x06;
inline constexpr std::uint8_t kBankRegister = 0xFF;
// The onboard zone's colour, bank 0.
inline constexpr std::int32_t kColourBank = 0;
inline constexpr std::int32_t kRedRegister = 0x70;
inline constexpr std::int32_t kBlueRegister = 0x71;
inline constexpr std::int32_t kGreenRegister = 0x72;
} // namespace ec

class EcPort {
public:
    // `clock` provides the protocol's 1 ms pauses (tests count them instead of sleeping).
    EcPort(IPortIo& ports, platform::IWaitClock& clock) noexcept : m_ports(ports), m_clock(clock) {}
    EcPort(const EcPort&) = delete;
    EcPort& operator=(const EcPort&) = delete;

    // The byte in bits 0-7; 0 when the library or its entry points are missing.
    std::int32_t ReadRegister(std::int32_t bank, std::int32_t address);
    // Skipped when the library or its entry points are missing.
    void WriteRegister(std::int32_t bank, std::int32_t address, std::int32_t value);
    // One controller transaction each.
    std::int32_t ReadByte(std::int32_t address);
    void WriteByte(std::int32_t address, std::int32_t value);
    // Loads the library unless it is loaded; kPortIoReady, kPortIoNotLoaded, kPortIoNoOpen or
    // kPortIoOpenFailed. A failed load is tried again by the next access.
    std::int32_t LoadPortLibrary();

private:
    bool ReadyLocked();
    void WaitLocked();
    void BeginTransactionLocked(std::uint8_t command, std::int32_t address);
    std::int32_t ReadByteLocked(std::int32_t address);
    void WriteByteLocked(std::int32_t address, std::int32_t value);

    IPortIo& m_ports;
    platform::IWaitClock& m_clock;
    std::mutex m_mutex; // one controller, one protocol conversation at a time
    bool m_loaded = false;
    std::int32_t m_loadResult = kPortIoNotLoaded;
};

} // namespace ovled
