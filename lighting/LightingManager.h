// LightingManager: the lighting modes of every device and the colour sources that show them. It owns the
// onboard controller, one controller per external strip, the music effect driver and the thermal
// thread, and keeps the modes in LightingSettings. Both sources reach the devices the same way: the
// music driver's colour of each tick goes through the manager's MusicOutput to the devices in music, and
// each thermal cycle's colour to the devices in thermal; either ends in the device's ShowColour.
// Threads: the power event window thread (construction, power events), COM threads (ModeByIndex), and
// the thermal thread (reads a snapshot of the modes every period). One mutex serialises construction,
// GetModeByIndex, SetModeByIndex and ApplyModes; the thermal thread only takes the snapshot lock, so
// ApplyModes may wait for an old thermal thread while holding the main lock.
#pragma once

#include "lighting/DeviceContract.h"
#include "lighting/LightingMode.h"
#include "lighting/LightingSettings.h"
#include "lighting/ThermalEffect.h"
#include "platform/Clock.h"
#include "platform/ThreadSession.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace ovled {

// Device indices: kOnboardDevice (-1) the onboard zone, 0..n-1 the strips; SetModeByIndex also takes the
// commands -2 (onboard zone off) and -3 (strips off).
inline constexpr int kOnboardOffCommand = -2;
inline constexpr int kStripsOffCommand = -3;

class LightingManager {
public:
    struct Timing {
        std::chrono::milliseconds thermalPeriod = kThermalPeriod;
        // Pause after the music driver is started or stopped, so that a start and a stop lie at least
        // one colour tick apart. An apply that asks the driver for the state it was last asked for
        // changes nothing and does not pause.
        std::chrono::milliseconds settleDelay{100};
    };

    // Builds the devices, reads the stored modes and applies them. `sessions` are begun by each run of the
    // thermal thread (the firmware connection it holds).
    LightingManager(LightingSettings& settings, IDeviceFactory& devices, ITemperatureSource& temperature,
                    platform::IWaitClock& clock, Timing timing,
                    platform::IThreadSessions& sessions = platform::NoThreadSessions());
    LightingManager(LightingSettings& settings, IDeviceFactory& devices, ITemperatureSource& temperature);
    ~LightingManager();
    LightingManager(const LightingManager&) = delete;
    LightingManager& operator=(const LightingManager&) = delete;

    // The stored mode of a device: the onboard zone for any negative index, 0 beyond the strips.
    int GetModeByIndex(int index);
    // Stores a mode (switching the device's group on) or runs a command index, then applies the modes.
    // Indices beyond the strips, and below -3, change nothing.
    void SetModeByIndex(int index, int mode);
    // SetModeByIndex for a device (not a command index) whose stored mode is still `seen`; false, and
    // nothing changed, when a caller has stored another since it was read (the caller's change stands).
    bool RestoreModeByIndex(int index, int seen, int mode);
    // Brings the music driver and the thermal thread in line with the modes and on flags.
    void ApplyModes();
    // Ends the music and thermal effects and waits for their threads, for good: the modes are still read
    // and stored, but nothing is applied any more. For the end of the process, so that no thread of the
    // lighting still holds firmware resources.
    void Shutdown();

    int StripCount() const noexcept { return static_cast<int>(m_strips.size()); }
    bool IsThermalRunning();

private:
    struct Snapshot {
        LightingMode onboardMode = LightingMode::None;
        bool stripsEnabled = false;
        std::vector<LightingMode> stripModes;
    };

    void ApplyModesLocked();
    int GetModeByIndexLocked(int index);
    void SetModeByIndexLocked(int index, int mode);
    void ThermalCycle();
    Snapshot TakeSnapshot();

    LightingSettings& m_settings;
    ITemperatureSource& m_temperature;
    platform::IWaitClock& m_clock;
    const Timing m_timing;

    std::mutex m_mutex;         // construction, Get/Set/Apply
    std::mutex m_snapshotMutex; // the fields below that the thermal thread reads
    bool m_stripsEnabled = false;
    bool m_onboardEnabled = false;
    LightingMode m_onboardMode = LightingMode::None;
    std::vector<LightingMode> m_stripModes;

    std::unique_ptr<ILedDevice> m_onboard;
    std::vector<std::unique_ptr<ILedDevice>> m_strips;
    std::unique_ptr<IMusicDriver> m_driver;
    bool m_shutDown = false;
    // What the last apply asked of the music driver (none yet: the first apply always pauses).
    std::optional<bool> m_musicRequested;
    // Last: destroyed first, so the thread has ended before the devices it uses go away.
    ThermalThread m_thermal;
};

} // namespace ovled
