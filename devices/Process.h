// Process: the composition root. It builds the process's shared objects in one place, owns them for its
// life and hands them to their users through their constructors: the board (firmware transport, item
// registry, EC port over the port-I/O library, strip-selection lock), the two settings files, the CPU
// temperature, the device factory and, on first use, the lighting manager. While it lives it is the
// process's root (platform/ProcessRoot.h), which the COM object asks for the lighting.
// The service builds one at its entry (devices/win32/WindowsProcess.h); every test fixture that needs the
// board or the lighting builds its own. Built and destroyed on one thread; its objects serve any thread.
#pragma once

#include "devices/BoardDeviceFactory.h"
#include "devices/CpuTemperature.h"
#include "hardware/Board.h"
#include "lighting/LedConfigFile.h"
#include "lighting/LightingManager.h"
#include "lighting/LightingRoot.h"
#include "lighting/LightingSettings.h"
#include "platform/Clock.h"
#include "platform/ProcessRoot.h"

#include <filesystem>
#include <memory>
#include <mutex>

namespace ovled {

// What the root is built over; the references must outlive it.
struct ProcessParts {
    IFirmwareTransport& firmware;
    // What the threads that reach the firmware hold while they work (the service: its firmware
    // connections; a board in process: nothing).
    platform::IThreadSessions& sessions;
    IPortIo& ports;
    // The folder of "Lighting.xml" and "lightingControl.xml" (the executable's in the service).
    std::filesystem::path folder;
    // The time base of every periodic task, pause and wait.
    platform::IWaitClock& clock;
    // The music driver's audio source.
    CaptureSource capture;
};

class Process final : public platform::ProcessRoot, public ILightingRoot {
public:
    // Loads the settings ("Lighting.xml" is created when missing); nothing reaches the firmware yet.
    explicit Process(ProcessParts parts);
    ~Process() override;

    Board& GetBoard() noexcept { return m_board; }
    LightingSettings& Settings() noexcept override { return m_settings; }
    LedConfigFile& LedConfig() noexcept override { return m_ledConfig; }
    IDeviceFactory& Devices() noexcept override { return m_devices; }
    ITemperatureSource& Temperature() noexcept { return m_temperature; }
    LightingManager& Manager() override;
    platform::IThreadSessions& Sessions() noexcept override { return m_sessions; }
    // Ends the lighting's threads for good (see LightingManager::Shutdown), also those of a manager
    // built after this.
    void ShutdownLighting();

private:
    platform::IWaitClock& m_clock;
    platform::IThreadSessions& m_sessions;
    Board m_board;
    LedConfigFile m_ledConfig;
    LightingSettings m_settings;
    CpuTemperatureSource m_temperature;
    BoardDeviceFactory m_devices;
    std::mutex m_managerMutex;
    bool m_lightingEnded = false;
    // Last: destroyed first, so its threads have ended before the objects they use go away.
    std::unique_ptr<LightingManager> m_manager;
};

} // namespace ovled
