// SilentCapture: an audio source that starts and stops but never delivers a packet, so music mode runs and
// writes black, as on a machine without an audio output. For roots that have no capture of their own (the
// tests' boards). Stateless; any thread.
#pragma once

#include "audio/AudioCapture.h"

namespace ovled {

class SilentCapture final : public IAudioCapture {
public:
    void SetDataCallback(AudioDataCallback) override {}
    bool Start() override { return true; }
    bool Stop() override { return true; }
};

} // namespace ovled
