// The process's root as the lighting side sees it (platform/ProcessRoot.h): the settings files, the
// board's devices and the lighting manager. The power event window and the COM object reach the lighting
// through it. Any thread.
#pragma once

#include "lighting/DeviceContract.h"
#include "platform/ThreadSession.h"

namespace ovled {

class LedConfigFile;
class LightingManager;
class LightingSettings;

class ILightingRoot {
public:
    virtual LightingSettings& Settings() noexcept = 0;
    virtual LedConfigFile& LedConfig() noexcept = 0;
    // The devices of the board, for the power events' temporary controllers.
    virtual IDeviceFactory& Devices() noexcept = 0;
    // The lighting manager, built by the first call (which reads the stored modes and applies them; the
    // calling thread must have initialised COM). Throws what the construction throws; a later call tries
    // again.
    virtual LightingManager& Manager() = 0;
    // What a thread that does the lighting's work holds for it (the power window thread for its life, a
    // COM call for its length).
    virtual platform::IThreadSessions& Sessions() noexcept = 0;

protected:
    ~ILightingRoot() = default;
};

} // namespace ovled
