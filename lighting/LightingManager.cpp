#include "lighting/LightingManager.h"

#include "lighting/MusicOutput.h"
#include "platform/Com.h"

namespace ovled {
namespace {

// At construction a device in music or thermal mode is handed to the service, if it is switched on.
void EnterStoredMode(ILedDevice& device, int stored)
{
    if (!device.IsOn())
        return;
    switch (AppliedMode(stored)) {
    case LightingMode::Music:
        device.EnterMusicMode();
        break;
    case LightingMode::Thermal:
        device.EnterThermalMode();
        break;
    case LightingMode::None:
        break;
    }
}

} // namespace

LightingManager::LightingManager(LightingSettings& settings, IDeviceFactory& devices,
                                 ITemperatureSource& temperature)
    : LightingManager(settings, devices, temperature, platform::SystemClock(), Timing{})
{
}

LightingManager::LightingManager(LightingSettings& settings, IDeviceFactory& devices,
                                 ITemperatureSource& temperature, platform::IWaitClock& clock, Timing timing,
                                 platform::IThreadSessions& sessions)
    : m_settings(settings),
      m_temperature(temperature),
      m_clock(clock),
      m_timing(timing),
      m_thermal(clock, timing.thermalPeriod, [this] { ThermalCycle(); }, sessions)
{
    std::lock_guard lock(m_mutex);
    platform::InitializeComForThread();

    const int onboardMode = m_settings.GetMode();
    m_onboardMode = AppliedMode(onboardMode);
    m_onboard = devices.CreateOnboardController();
    EnterStoredMode(*m_onboard, onboardMode);

    const int count = devices.GetExternalStripCount();
    std::vector<ILedDevice*> strips;
    for (int i = 0; i < count; ++i) {
        const int mode = m_settings.GetExternalMode(i);
        m_stripModes.push_back(AppliedMode(mode));
        m_strips.push_back(devices.CreateStripController(i));
        strips.push_back(m_strips.back().get());
        EnterStoredMode(*m_strips.back(), mode);
    }
    m_driver = devices.CreateMusicDriver(std::make_unique<MusicOutput>(*m_onboard, std::move(strips)));
    ApplyModesLocked();
}

LightingManager::~LightingManager()
{
    std::lock_guard lock(m_mutex);
    m_thermal.RequestStop();
    if (m_driver)
        m_driver->Stop();
}

int LightingManager::GetModeByIndex(int index)
{
    std::lock_guard lock(m_mutex);
    return GetModeByIndexLocked(index);
}

int LightingManager::GetModeByIndexLocked(int index)
{
    const int onboardMode = m_settings.GetMode();
    {
        std::lock_guard snapshot(m_snapshotMutex);
        m_onboardMode = AppliedMode(onboardMode);
    }
    if (index < 0)
        return onboardMode;
    if (index < StripCount())
        return m_settings.GetExternalMode(index);
    return kModeNone;
}

void LightingManager::SetModeByIndex(int index, int mode)
{
    platform::InitializeComForThread();
    std::lock_guard lock(m_mutex);
    SetModeByIndexLocked(index, mode);
}

bool LightingManager::RestoreModeByIndex(int index, int seen, int mode)
{
    platform::InitializeComForThread();
    std::lock_guard lock(m_mutex);
    // A resume reads the stored mode, re-enters it on the device (firmware calls, which the lock must not
    // wait for), then stores it again; a caller's change in between would otherwise be overwritten.
    if (index < kOnboardDevice || GetModeByIndexLocked(index) != seen)
        return false;
    SetModeByIndexLocked(index, mode);
    return true;
}

void LightingManager::SetModeByIndexLocked(int index, int mode)
{
    const LightingMode applied = AppliedMode(mode);
    if (index == kOnboardDevice) {
        {
            std::lock_guard snapshot(m_snapshotMutex);
            m_onboardMode = applied;
        }
        m_settings.SetMode(StoredMode(true, mode));
        m_settings.SetEnabled(true);
    } else if (index == kOnboardOffCommand) {
        // The stored mode stays, so that switching the zone on again (or a resume) finds it.
        std::lock_guard snapshot(m_snapshotMutex);
        m_onboardMode = applied;
        m_settings.SetEnabled(false);
    } else if (index >= 0 && index < StripCount()) {
        {
            std::lock_guard snapshot(m_snapshotMutex);
            m_stripModes[static_cast<size_t>(index)] = applied;
        }
        m_settings.SetExternalMode(index, StoredMode(false, mode));
        m_settings.SetExternalEnable(0, 1);
    } else if (index == kStripsOffCommand) {
        m_settings.SetExternalEnable(0, 0);
    } else {
        return;
    }
    ApplyModesLocked();
}

void LightingManager::ApplyModes()
{
    std::lock_guard lock(m_mutex);
    ApplyModesLocked();
}

void LightingManager::Shutdown()
{
    std::lock_guard lock(m_mutex);
    m_shutDown = true;
    // The thermal cycle takes only the snapshot lock, so waiting for it here cannot deadlock. The
    // driver's destruction waits for its capture and colour threads.
    m_thermal.StopAndWait();
    m_driver.reset();
}

bool LightingManager::IsThermalRunning()
{
    std::lock_guard lock(m_mutex);
    return m_thermal.IsRunning();
}

void LightingManager::ApplyModesLocked()
{
    if (m_shutDown)
        return;
    platform::InitializeComForThread();
    const bool onboardEnabled = m_settings.IsEnabled();
    const bool stripsEnabled = m_settings.GetExternalEnable(0) == 1;
    Snapshot modes;
    {
        std::lock_guard snapshot(m_snapshotMutex);
        m_onboardEnabled = onboardEnabled;
        m_stripsEnabled = stripsEnabled;
        modes.onboardMode = m_onboardMode;
        modes.stripModes = m_stripModes;
    }

    bool music = false;
    bool thermal = false;
    auto place = [&](int device, LightingMode mode, bool enabled) {
        if (mode == LightingMode::Music && enabled) {
            m_driver->EnableDevice(device);
            music = true;
            return;
        }
        m_driver->DisableDevice(device);
        if (mode == LightingMode::Thermal && enabled)
            thermal = true;
    };
    place(kOnboardDevice, modes.onboardMode, onboardEnabled);
    for (size_t i = 0; i < modes.stripModes.size(); ++i)
        place(static_cast<int>(i), modes.stripModes[i], stripsEnabled);

    if (music)
        m_driver->Start();
    else
        m_driver->Stop();
    // The pause is taken under the manager's lock, which every COM call (reads too) waits for; paid on
    // every apply, eight busy clients made a read wait over a second behind sets that changed nothing
    // for the driver. Only a start after a stop, or a stop after a start, needs it.
    if (m_musicRequested != music)
        m_clock.Sleep(m_timing.settleDelay);
    m_musicRequested = music;

    if (thermal)
        m_thermal.Start();
    else
        m_thermal.RequestStop();
}

LightingManager::Snapshot LightingManager::TakeSnapshot()
{
    std::lock_guard snapshot(m_snapshotMutex);
    return Snapshot{m_onboardMode, m_stripsEnabled, m_stripModes};
}

void LightingManager::ThermalCycle()
{
    const std::optional<int> celsius = m_temperature.ReadCelsius();
    if (!celsius)
        return; // no sensor, or never a reading: nothing to show
    const Rgb colour = ThermalColour(*celsius);
    const Snapshot modes = TakeSnapshot();
    if (modes.onboardMode == LightingMode::Thermal && m_onboard->IsOn())
        (void)m_onboard->ShowColour(colour, ColourSource::Thermal);
    for (size_t i = 0; i < modes.stripModes.size(); ++i) {
        if (modes.stripModes[i] == LightingMode::Thermal && modes.stripsEnabled)
            (void)m_strips[i]->ShowColour(colour, ColourSource::Thermal);
    }
}

} // namespace ovled
