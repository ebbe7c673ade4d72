// The process's lighting manager, over the process's settings and the board's devices. Apart from the
// manager itself so that the lighting library never links the devices (tests build managers over fakes).
#include "lighting/LightingManager.h"
#include "platform/Singleton.h"

namespace ovled {

LightingManager* LightingManager::Instance()
{
    if (auto* installed = platform::ScopedInstanceOverride<LightingManager>::Current())
        return installed;
    static auto* instance =
        new LightingManager(*LightingSettings::Instance(), DefaultDeviceFactory(), DefaultTemperatureSource());
    return instance;
}

} // namespace ovled
