// The service's composition root on Windows: the board maker's automation server through connections
// held by the threads that use it (hardware/win32/HeldConnection.h), "ovio.dll" beside the executable, loopback capture of the default output, and the settings files beside
// the executable. Built by the process entry before anything else runs; see devices/Process.h.
#pragma once

#include "devices/Process.h"
#include "hardware/win32/HeldConnection.h"
#include "hardware/win32/PortIoLibrary.h"

namespace ovled::win32 {

class WindowsProcess {
public:
    WindowsProcess();
    Process& Root() noexcept { return m_process; }

private:
    HeldAutomationTransport m_firmware;
    PortIoLibrary m_ports;
    Process m_process;
};

} // namespace ovled::win32
