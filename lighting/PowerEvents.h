// PowerEventHandler: what the lighting does when the machine suspends and resumes. On suspend the
// devices that have a stored mode are darkened; on the first resume after a suspend every device is
// put back into its stored mode, which is stored again and switches the device's group on.
// Owned by the power event window's thread, which alone calls it; temporary controllers come from the
// device factory and live for one call.
#pragma once

#include "lighting/DeviceContract.h"
#include "lighting/LightingManager.h"

namespace ovled {

// The power broadcast events (WM_POWERBROADCAST's wParam) that the handler acts on.
inline constexpr unsigned kPowerSuspend = 4;
inline constexpr unsigned kPowerResumeCritical = 6;
inline constexpr unsigned kPowerResumeSuspend = 7;
inline constexpr unsigned kPowerResumeAutomatic = 18;

// Suspend darkens the strips up to this count only.
inline constexpr int kStripsDarkenedOnSuspend = 2;

class PowerEventHandler {
public:
    PowerEventHandler(LightingManager& manager, IDeviceFactory& devices) noexcept
        : m_manager(manager), m_devices(devices)
    {
    }

    // Dispatches one power broadcast; other events are ignored.
    void OnPowerBroadcast(unsigned event);
    void Suspend();
    // Restores the modes when a suspend came before; otherwise does nothing.
    void Resume();
    bool IsSuspended() const noexcept { return m_suspended; }

private:
    void Restore(ILedDevice& device, int index, int stored);

    LightingManager& m_manager;
    IDeviceFactory& m_devices;
    bool m_suspended = false;
};

} // namespace ovled
