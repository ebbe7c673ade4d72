#include "devices/Process.h"

namespace ovled {

Process::Process(ProcessParts parts)
    : m_clock(parts.clock),
      m_sessions(parts.sessions),
      m_board(parts.firmware, parts.ports, parts.clock),
      m_ledConfig(parts.folder / LedConfigFile::kFileName),
      m_settings(parts.folder / LightingSettings::kFileName),
      m_temperature(parts.firmware),
      m_devices(m_board, m_ledConfig, parts.clock, std::move(parts.capture), parts.sessions)
{
    Install();
}

Process::~Process()
{
    Uninstall();
}

LightingManager& Process::Manager()
{
    // Whoever comes first builds it (the power event window's thread, in the service); a COM caller that
    // comes meanwhile waits for it: the construction reads the settings and the strip count, and leaves
    // the firmware writes of entering the stored modes to the manager's apply thread.
    std::lock_guard lock(m_managerMutex);
    if (!m_manager) {
        // The service's applies run on the manager's own thread: no COM caller waits for the firmware.
        LightingManager::Timing timing;
        timing.applyOnOwnThread = true;
        m_manager = std::make_unique<LightingManager>(m_settings, m_devices, m_temperature, m_clock, timing,
                                                      m_sessions);
        // First asked for after the lighting ended (the window thread never built it, and a COM call
        // was still under way): the threads its construction started end at once.
        if (m_lightingEnded)
            m_manager->Shutdown();
    }
    return *m_manager;
}

void Process::ShutdownLighting()
{
    std::lock_guard lock(m_managerMutex);
    m_lightingEnded = true;
    if (m_manager)
        m_manager->Shutdown();
}

} // namespace ovled
