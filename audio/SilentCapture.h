// Hosts other than Windows have no loopback capture here: the music driver gets a source that starts
// and stops but never delivers a packet, so music mode runs and writes black, as on a Windows machine
// without an audio output.
#include "devices/BoardDeviceFactory.h"

namespace ovled {
namespace {

class NoAudioCapture final : public IAudioCapture {
public:
    void SetDataCallback(AudioDataCallback) override {}
    bool Start() override { return true; }
    bool Stop() override { return true; }
};

} // namespace

std::unique_ptr<IAudioCapture> PlatformCapture()
{
    return std::make_unique<NoAudioCapture>();
}

} // namespace ovled
