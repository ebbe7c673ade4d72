// Windows: the music mode records what the machine plays (Core Audio loopback of the default output).
#include "audio/win32/LoopbackCapture.h"
#include "devices/BoardDeviceFactory.h"

namespace ovled {

std::unique_ptr<IAudioCapture> PlatformCapture()
{
    return std::make_unique<LoopbackCapture>();
}

} // namespace ovled
