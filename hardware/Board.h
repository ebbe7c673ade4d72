// Board: the process's way to the board. It holds the firmware transport and the port-I/O library it is
// given, and owns what lies on them: the item registry, the embedded controller's port and the strip-
// selection lock. The LED controllers and the CPU temperature receive it through their constructors. The
// composition root owns one for the life of the process; each test fixture builds its own. Any thread.
#pragma once

#include "hardware/BiosItemRegistry.h"
#include "hardware/EcPort.h"
#include "hardware/FirmwareTransport.h"
#include "hardware/PortIo.h"
#include "platform/Clock.h"

#include <mutex>

namespace ovled {

class Board {
public:
    // `clock` provides the protocol's and the controllers' pauses. The transport and the ports must
    // outlive the board.
    Board(IFirmwareTransport& firmware, IPortIo& ports, platform::IWaitClock& clock) noexcept
        : m_firmware(firmware), m_clock(clock), m_registry(firmware), m_ec(ports, clock)
    {
    }
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    IFirmwareTransport& Firmware() noexcept { return m_firmware; }
    BiosItemRegistry& Registry() noexcept { return m_registry; }
    EcPort& Ec() noexcept { return m_ec; }
    platform::IWaitClock& Clock() noexcept { return m_clock; }
    // The selector item (0x13060046) is firmware state shared by every strip: every strip operation holds
    // this lock from its select to its last write, whichever thread runs it (COM callers, the thermal and
    // music colour threads, the power window), so that a colour never lands on the wrong strip. Never held
    // while waiting for a lock of the hardware layer's callers.
    std::mutex& StripSelection() noexcept { return m_stripSelection; }

private:
    IFirmwareTransport& m_firmware;
    platform::IWaitClock& m_clock;
    BiosItemRegistry m_registry;
    EcPort m_ec;
    std::mutex m_stripSelection;
};

} // namespace ovled
