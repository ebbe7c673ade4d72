#include "lighting/LightingManager.h"

#include "lighting/MusicOutput.h"
#include "platform/Com.h"

namespace ovled {
namespace {

// At the start a device in music or thermal mode is handed to the service, if it is switched on.
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
      m_sessions(sessions),
      m_thermal(clock, timing.thermalPeriod, [this] { ThermalCycle(); }, sessions)
{
    platform::InitializeComForThread();

    const int onboardMode = m_settings.GetMode();
    m_onboardMode = AppliedMode(onboardMode);
    m_enterModes.push_back(onboardMode);
    m_onboard = devices.CreateOnboardController();

    const int count = devices.GetExternalStripCount();
    std::vector<ILedDevice*> strips;
    for (int i = 0; i < count; ++i) {
        const int mode = m_settings.GetExternalMode(i);
        m_stripModes.push_back(AppliedMode(mode));
        m_enterModes.push_back(mode);
        m_strips.push_back(devices.CreateStripController(i));
        strips.push_back(m_strips.back().get());
    }
    m_driver = devices.CreateMusicDriver(std::make_unique<MusicOutput>(*m_onboard, std::move(strips)));
    if (m_timing.applyOnOwnThread)
        m_applier = std::thread([this] { ApplyLoop(); });
    ApplyModes();
}

LightingManager::~LightingManager()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopThread = true;
    }
    m_changed.notify_all();
    if (m_applier.joinable())
        m_applier.join();
    std::lock_guard apply(m_applyMutex);
    m_thermal.RequestStop();
    if (m_driver)
        m_driver->Stop();
}

int LightingManager::GetModeByIndex(int index)
{
    // The stored modes, as the settings hold them; the in-memory modes that the effects follow are left
    // alone, so that reading never lights a zone that a command switched off.
    if (index < 0)
        return m_settings.GetMode();
    if (index < StripCount())
        return m_settings.GetExternalMode(index);
    return kModeNone;
}

void LightingManager::SetModeByIndex(int index, int mode)
{
    {
        std::lock_guard lock(m_mutex);
        if (index < kStripsOffCommand || index >= StripCount())
            return;
        SetModeByIndexLocked(index, mode);
    }
    ApplyModes();
}

bool LightingManager::RestoreModeByIndex(int index, int seen, int mode)
{
    {
        std::lock_guard lock(m_mutex);
        // A resume reads the stored mode, re-enters it on the device (firmware calls, made without this
        // lock), then stores it again; a caller's change in between would otherwise be overwritten.
        if (index < kOnboardDevice || index >= StripCount() || GetModeByIndex(index) != seen)
            return false;
        SetModeByIndexLocked(index, mode);
    }
    ApplyModes();
    return true;
}

void LightingManager::SetModeByIndexLocked(int index, int mode)
{
    const LightingMode applied = AppliedMode(mode);
    if (index == kOnboardDevice) {
        m_onboardMode = applied;
        m_settings.SetMode(StoredMode(true, mode));
        m_settings.SetEnabled(true);
    } else if (index == kOnboardOffCommand) {
        // The stored mode stays, so that switching the zone on again (or a resume) finds it.
        m_onboardMode = applied;
        m_settings.SetEnabled(false);
    } else if (index >= 0) {
        m_stripModes[static_cast<size_t>(index)] = applied;
        m_settings.SetExternalMode(index, StoredMode(false, mode));
        m_settings.SetExternalEnable(0, 1);
    } else if (index == kStripsOffCommand) {
        m_settings.SetExternalEnable(0, 0);
    }
}

void LightingManager::ApplyModes()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_requested;
    }
    if (m_timing.applyOnOwnThread) {
        m_changed.notify_all();
        return;
    }
    std::lock_guard apply(m_applyMutex);
    ApplyNow();
    std::lock_guard lock(m_mutex);
    m_applied = m_requested;
    m_changed.notify_all();
}

bool LightingManager::WaitUntilApplied(std::chrono::milliseconds patience)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, patience, [&] { return m_applied == m_requested || m_shutDown; });
}

void LightingManager::ApplyLoop()
{
    try {
        // The apply reaches the firmware (entering the stored modes), which needs COM and a session on the
        // thread that calls it.
        const platform::ComApartment apartment;
        const std::unique_ptr<platform::IThreadSession> session = m_sessions.Begin();
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] { return m_stopThread || m_applied != m_requested; });
            if (m_stopThread)
                return;
            // Every apply reads the latest modes, so the requests made meanwhile are answered by this one.
            const std::uint64_t requested = m_requested;
            lock.unlock();
            {
                std::lock_guard apply(m_applyMutex);
                ApplyNow();
            }
            lock.lock();
            m_applied = requested;
            m_changed.notify_all();
        }
    } catch (...) {
        // Nothing may leave a thread procedure; the modes stay stored and the next start applies them.
    }
}

void LightingManager::Shutdown()
{
    {
        std::lock_guard lock(m_mutex);
        m_shutDown = true;
    }
    m_changed.notify_all();
    // An apply under way finishes first; no later one starts anything. The thermal cycle takes only the
    // state lock, so waiting for it here cannot deadlock. The driver's destruction waits for its capture
    // and colour threads.
    std::lock_guard apply(m_applyMutex);
    m_thermal.StopAndWait();
    m_driver.reset();
}

void LightingManager::EnterStoredModes()
{
    if (m_entered)
        return;
    m_entered = true;
    EnterStoredMode(*m_onboard, m_enterModes[0]);
    for (size_t i = 0; i < m_strips.size(); ++i)
        EnterStoredMode(*m_strips[i], m_enterModes[i + 1]);
}

void LightingManager::ApplyNow()
{
    platform::InitializeComForThread();
    {
        std::lock_guard lock(m_mutex);
        if (m_shutDown)
            return;
    }
    EnterStoredModes();
    const bool onboardEnabled = m_settings.IsEnabled();
    const bool stripsEnabled = m_settings.GetExternalEnable(0) == 1;
    Snapshot modes;
    {
        std::lock_guard lock(m_mutex);
        if (m_shutDown || !m_driver)
            return;
        m_onboardEnabled = onboardEnabled;
        m_stripsEnabled = stripsEnabled;
        modes = Snapshot{m_onboardMode, onboardEnabled, stripsEnabled, m_stripModes};
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
    place(kOnboardDevice, modes.onboardMode, modes.onboardEnabled);
    for (size_t i = 0; i < modes.stripModes.size(); ++i)
        place(static_cast<int>(i), modes.stripModes[i], modes.stripsEnabled);

    if (music)
        m_driver->Start();
    else
        m_driver->Stop();
    // Only a start after a stop, or a stop after a start, needs the pause.
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
    std::lock_guard lock(m_mutex);
    return Snapshot{m_onboardMode, m_onboardEnabled, m_stripsEnabled, m_stripModes};
}

void LightingManager::ThermalCycle()
{
    const std::optional<int> celsius = m_temperature.ReadCelsius();
    if (!celsius)
        return; // no sensor, or never a reading: nothing to show
    const Rgb colour = ThermalColour(*celsius);
    const Snapshot modes = TakeSnapshot();
    // The onboard zone's own on flag plays no part here; its controller's IsOn does.
    if (modes.onboardMode == LightingMode::Thermal && m_onboard->IsOn())
        (void)m_onboard->ShowColour(colour, ColourSource::Thermal);
    for (size_t i = 0; i < modes.stripModes.size(); ++i) {
        if (modes.stripModes[i] == LightingMode::Thermal && modes.stripsEnabled)
            (void)m_strips[i]->ShowColour(colour, ColourSource::Thermal);
    }
}

} // namespace ovled
