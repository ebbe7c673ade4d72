#include "lighting/PowerEvents.h"

#include <algorithm>

namespace ovled {

void PowerEventHandler::OnPowerBroadcast(unsigned event)
{
    switch (event) {
    case kPowerSuspend:
        Suspend();
        break;
    case kPowerResumeCritical:
    case kPowerResumeSuspend:
    case kPowerResumeAutomatic:
        Resume();
        break;
    default:
        break;
    }
}

void PowerEventHandler::Suspend()
{
    const int strips = m_devices.GetExternalStripCount();
    {
        const auto onboard = m_devices.CreateOnboardController();
        if (ResumedMode(m_manager.GetModeByIndex(kOnboardDevice)))
            onboard->SetEffect1(0);
    }
    for (int i = 0; i < std::min(strips, kStripsDarkenedOnSuspend); ++i) {
        if (ResumedMode(m_manager.GetModeByIndex(i)))
            m_devices.CreateStripController(i)->SetEffect1(0);
    }
    m_suspended = true;
}

void PowerEventHandler::Resume()
{
    if (!m_suspended)
        return; // Windows may send two resume events for one wake-up: only the first restores
    const int strips = m_devices.GetExternalStripCount();
    const int onboardMode = m_manager.GetModeByIndex(kOnboardDevice);
    if (ResumedMode(onboardMode))
        Restore(*m_devices.CreateOnboardController(), kOnboardDevice, onboardMode);
    for (int i = 0; i < strips; ++i) {
        const auto strip = m_devices.CreateStripController(i);
        const int mode = m_manager.GetModeByIndex(i);
        if (ResumedMode(mode))
            Restore(*strip, i, mode);
    }
    m_suspended = false;
    // A rule that keeps the lights off holds across the suspend: what the resume handed back goes dark.
    m_manager.Resumed();
}

// The device comes back in the mode that ResumedMode gives, which is stored again. A mode that a COM
// caller stored while the device was being re-entered stands.
void PowerEventHandler::Restore(ILedDevice& device, int index, int stored)
{
    const LightingMode mode = *ResumedMode(stored);
    if (mode == LightingMode::Music)
        device.EnterMusicMode();
    else
        device.EnterThermalMode();
    (void)m_manager.RestoreModeByIndex(index, stored, Stored(mode));
}

} // namespace ovled
