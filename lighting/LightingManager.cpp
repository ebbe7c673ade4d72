#include "lighting/LightingManager.h"

#include "lighting/MusicOutput.h"
#include "platform/Com.h"

#include <utility>

namespace ovled {
namespace {

// How often the rules that depend on the time are judged while one of them is on: the nightly window's
// edges come within this of their minute, whatever the clock or the daylight-saving time did meanwhile.
constexpr std::chrono::seconds kRuleEvaluationPeriod{15};

// Hands a device in music or thermal mode to the service; one in mode none stays as it is.
void EnterMode(ILedDevice& device, LightingMode mode)
{
    if (mode == LightingMode::Music)
        device.EnterMusicMode();
    else if (mode == LightingMode::Thermal)
        device.EnterThermalMode();
}

// At the start a device in music or thermal mode is handed to the service, if it is switched on.
void EnterStoredMode(ILedDevice& device, int stored)
{
    if (device.IsOn())
        EnterMode(device, AppliedMode(stored));
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
    m_painter = std::make_unique<DevicePainter>(*m_onboard, std::move(strips));
    m_painter->SetBrightness(m_settings.GetBrightness());
    m_driver = devices.CreateMusicDriver(std::make_unique<MusicOutput>(*m_painter));
    m_lightsOff.Configure(m_settings.GetLightsOff());
    m_holding = m_lightsOff.Evaluate(m_clock.Now(), m_timing.localMinutes());
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
        RequestApplyLocked();
    }
    RunRequestedApply();
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
        RequestApplyLocked();
    }
    RunRequestedApply();
    return true;
}

void LightingManager::SetModeByIndexLocked(int index, int mode)
{
    const LightingMode applied = AppliedMode(mode);
    ++m_changes;
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
        RequestApplyLocked();
    }
    RunRequestedApply();
}

void LightingManager::RequestApplyLocked()
{
    ++m_requested;
}

void LightingManager::RunRequestedApply()
{
    if (m_timing.applyOnOwnThread) {
        m_changed.notify_all();
        return;
    }
    std::lock_guard apply(m_applyMutex);
    {
        std::lock_guard lock(m_mutex);
        if (m_applied == m_requested)
            return; // nothing asked for since the last apply (or another caller made it)
    }
    ApplyNow();
    std::lock_guard lock(m_mutex);
    m_applied = m_requested;
    m_changed.notify_all();
}

bool LightingManager::SetBrightness(int percent)
{
    if (percent < 0 || percent > kFullBrightness)
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_painter->SetBrightness(percent);
        m_settings.SetBrightness(percent);
        ++m_changes;
        // Music shows it at its next tick; thermal would wait for its next cycle, up to 3 s.
        m_repaintThermal = true;
        RequestApplyLocked();
    }
    RunRequestedApply();
    return true;
}

bool LightingManager::SetLightsOff(const LightsOffSettings& settings)
{
    return ChangeLightsOff([&](LightsOffSettings& rules) { rules = settings; });
}

bool LightingManager::ChangeLightsOff(const std::function<void(LightsOffSettings&)>& change)
{
    auto inDay = [](int minutes) { return minutes >= 0 && minutes < kMinutesPerDay; };
    {
        std::lock_guard lock(m_mutex);
        LightsOffSettings settings = m_lightsOff.Settings();
        change(settings);
        if (!inDay(settings.nightStart) || !inDay(settings.nightEnd))
            return false;
        m_settings.SetLightsOff(settings);
        m_lightsOff.Configure(settings);
        ++m_changes;
        EvaluateLightsOffLocked();
        RequestApplyLocked(); // also makes the apply thread look at when the rules are due next
    }
    RunRequestedApply();
    return true;
}

void LightingManager::SetSessionLocked(bool locked)
{
    {
        std::lock_guard lock(m_mutex);
        m_lightsOff.SetLocked(locked);
        EvaluateLightsOffLocked();
    }
    RunRequestedApply();
}

void LightingManager::SetDisplayOff(bool off)
{
    {
        std::lock_guard lock(m_mutex);
        m_lightsOff.SetDisplayOff(off);
        EvaluateLightsOffLocked();
    }
    RunRequestedApply();
}

void LightingManager::LightsOffNow(std::optional<std::chrono::minutes> minutes)
{
    {
        std::lock_guard lock(m_mutex);
        m_lightsOff.OffNow(m_clock.Now(), minutes);
        ++m_changes;
        EvaluateLightsOffLocked();
        RequestApplyLocked();
    }
    RunRequestedApply();
}

void LightingManager::LightsOnNow()
{
    {
        std::lock_guard lock(m_mutex);
        m_lightsOff.OnNow(m_clock.Now(), m_timing.localMinutes());
        ++m_changes;
        EvaluateLightsOffLocked();
        RequestApplyLocked();
    }
    RunRequestedApply();
}

void LightingManager::EvaluateLightsOff()
{
    {
        std::lock_guard lock(m_mutex);
        EvaluateLightsOffLocked();
    }
    RunRequestedApply();
}

void LightingManager::Resumed()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_holding == 0)
            return;
        m_redarken = true;
        RequestApplyLocked();
    }
    RunRequestedApply();
}

void LightingManager::EvaluateLightsOffLocked()
{
    const std::uint32_t holding = m_lightsOff.Evaluate(m_clock.Now(), m_timing.localMinutes());
    if (holding == m_holding)
        return;
    const bool wasDark = m_holding != 0;
    m_holding = holding;
    ++m_changes;
    if (wasDark != (holding != 0))
        RequestApplyLocked();
}

std::optional<std::chrono::steady_clock::time_point> LightingManager::NextEvaluationLocked() const
{
    std::optional<std::chrono::steady_clock::time_point> next;
    if (m_lightsOff.Settings().nightly)
        next = std::chrono::steady_clock::now() + kRuleEvaluationPeriod;
    if (const auto ends = m_lightsOff.OffNowEnds(); ends && (!next || *ends < *next))
        next = *ends;
    return next;
}

std::uint32_t LightingManager::HoldingRules()
{
    std::lock_guard lock(m_mutex);
    return m_holding;
}

LightingManager::Status LightingManager::GetStatus()
{
    std::lock_guard lock(m_mutex);
    Status status;
    const bool onboardOn = m_settings.IsEnabled();
    const bool stripsOn = m_settings.GetExternalEnable(0) == 1;
    for (int index = kOnboardDevice; index < StripCount(); ++index) {
        status.devices.push_back(DeviceStatus{index, GetModeByIndex(index),
                                              index == kOnboardDevice ? onboardOn : stripsOn,
                                              m_painter->LastShown(index)});
    }
    status.brightness = m_painter->Brightness();
    status.lightsOff = m_lightsOff.Settings();
    status.holdingRules = m_holding;
    status.changes = m_changes;
    return status;
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
            const auto due = [&] { return m_stopThread || m_applied != m_requested; };
            if (const auto next = NextEvaluationLocked()) {
                if (!m_changed.wait_until(lock, *next, due))
                    EvaluateLightsOffLocked(); // the time rules are due
            } else {
                m_changed.wait(lock, due);
            }
            if (m_stopThread)
                return;
            if (m_applied == m_requested)
                continue;
            // Every apply reads the latest modes, so the requests made meanwhile are answered by this one.
            const std::uint64_t requested = m_requested;
            lock.unlock();
            try {
                std::lock_guard apply(m_applyMutex);
                ApplyNow();
            } catch (...) {
                // Out of memory half-way: the request counts as answered, and the next change applies the
                // modes afresh; the thread stays for it.
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
    bool redarken = false;
    bool repaintThermal = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_shutDown || !m_driver)
            return;
        m_onboardEnabled = onboardEnabled;
        m_stripsEnabled = stripsEnabled;
        modes = Snapshot{m_onboardMode, onboardEnabled, stripsEnabled, m_stripModes, m_holding != 0};
        redarken = std::exchange(m_redarken, false);
        repaintThermal = std::exchange(m_repaintThermal, false);
    }

    if (modes.dark) {
        // Nothing to show: capture and the colour and thermal threads stop. Each source ends within its
        // period (the colour thread within a tick, before the settling pause is over); the thermal run is
        // waited for, so no late cycle paints over the darkness.
        m_driver->Stop();
        if (m_musicRequested != false)
            m_clock.Sleep(m_timing.settleDelay);
        m_musicRequested = false;
        m_thermal.StopAndWait();
        m_painter->SetDark(true);
        if (!m_darkened || redarken)
            Darken();
        m_darkened = true;
        return;
    }
    const bool relit = std::exchange(m_darkened, false);
    if (relit) {
        m_painter->SetDark(false);
        Relight(modes);
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
    // The thermal devices show their colour now rather than at the next cycle.
    if (thermal && (relit || repaintThermal))
        ThermalCycle();
}

void LightingManager::Darken()
{
    for (int index = kOnboardDevice; index < StripCount(); ++index) {
        ILedDevice& device = *m_painter->Device(index);
        if (!device.IsOn())
            continue; // already dark
        device.EnterThermalMode();
        (void)m_painter->ShowDark(index);
    }
}

void LightingManager::Relight(const Snapshot& modes)
{
    auto relight = [this](int index, LightingMode mode, bool groupOn) {
        ILedDevice& device = *m_painter->Device(index);
        if (!groupOn || !device.IsOn())
            return; // a group switched off stays dark
        if (mode == LightingMode::None) {
            // The board's own effect shows again: no colour of ours does.
            device.LeaveHostControl();
            m_painter->Forget(index);
        } else {
            EnterMode(device, mode);
        }
    };
    relight(kOnboardDevice, modes.onboardMode, modes.onboardEnabled);
    for (size_t i = 0; i < m_strips.size(); ++i)
        relight(static_cast<int>(i), modes.stripModes[i], modes.stripsEnabled);
}

LightingManager::Snapshot LightingManager::TakeSnapshot()
{
    std::lock_guard lock(m_mutex);
    return Snapshot{m_onboardMode, m_onboardEnabled, m_stripsEnabled, m_stripModes, m_holding != 0};
}

void LightingManager::ThermalCycle()
{
    const std::optional<int> celsius = m_temperature.ReadCelsius();
    if (!celsius)
        return; // no sensor, or never a reading: nothing to show
    const Rgb colour = ThermalColour(*celsius);
    const Snapshot modes = TakeSnapshot();
    if (modes.dark)
        return;
    // The onboard zone's own on flag plays no part here; its controller's IsOn does.
    if (modes.onboardMode == LightingMode::Thermal && m_onboard->IsOn())
        (void)m_painter->Paint(kOnboardDevice, colour, ColourSource::Thermal);
    for (size_t i = 0; i < modes.stripModes.size(); ++i) {
        if (modes.stripModes[i] == LightingMode::Thermal && modes.stripsEnabled)
            (void)m_painter->Paint(static_cast<int>(i), colour, ColourSource::Thermal);
    }
}

} // namespace ovled
