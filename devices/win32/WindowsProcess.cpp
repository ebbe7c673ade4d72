#include "devices/win32/WindowsProcess.h"

#include "audio/win32/LoopbackCapture.h"
#include "platform/Paths.h"

namespace ovled::win32 {

WindowsProcess::WindowsProcess()
    : m_process(ProcessParts{m_firmware, m_firmware, m_ports, platform::ExecutableDirectory(), platform::SystemClock(),
                             [] { return std::make_unique<LoopbackCapture>(); }})
{
}

} // namespace ovled::win32
