// Board: the process's way to the board. It holds the firmware transport and the port-I/O library it is
// given, and owns what lies on them: the item registry, the embedded controller's port and the strip-
// selection lock. The LED controllers, the music colour and the CPU temperature receive it through their
// constructors. The composition root owns one for the life of the process; each test fixture builds its
// own. Any thread.
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
    // The selector item (0x13060046) is firmware state shared by every strip: a strip operation's
    // select-then-write sequence, and the music colour thread's per-strip select and colour writes, each
    // hold this lock so that a colour never lands on the wrong strip. Never held while waiting for a lock
    // of the hardware layer's callers.
    std::mutex& StripSelection() noexcept { return m_stripSelection; }

private:
    IFirmwareTransport& m_firmware;
    platform::IWaitClock& m_clock;
    BiosItemRegistry m_registry;
    EcPort m_ec;
    std::mutex m_stripSelection;
};

// The process's root as the hardware layer sees it (platform/ProcessRoot.h): BiosItemRegistry::Instance()
// and EcPort::Instance() answer with the objects of its board.
class IBoardRoot {
public:
    virtual Board& GetBoard() noexcept = 0;

protected:
    ~IBoardRoot() = default;
};

} // namespace ovled
