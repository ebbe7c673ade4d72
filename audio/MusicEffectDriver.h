// MusicEffectDriver: the music mode's entry point for the lighting manager. It owns the audio capture and
// the effect, feeds every captured packet to the effect, keeps the set of devices that show the music
// colour, and starts and stops capture and colour thread together. Its five operations are serialised
// by one lock; the capture's data callback (capture thread) touches only the effect's band peaks.
#pragma once

#include "audio/AudioCapture.h"
#include "audio/AudioEffect.h"
#include "lighting/ColourOutput.h"
#include "lighting/DeviceContract.h"
#include "platform/Clock.h"
#include "platform/ThreadSession.h"

#include <memory>
#include <mutex>

namespace ovled {

class MusicEffectDriver final : public IMusicDriver {
public:
    MusicEffectDriver(std::unique_ptr<IAudioCapture> capture, std::unique_ptr<IColourOutput> output,
                      platform::IWaitClock& clock = platform::SystemClock(),
                      platform::IThreadSessions& sessions = platform::NoThreadSessions());
    ~MusicEffectDriver() override;
    MusicEffectDriver(const MusicEffectDriver&) = delete;
    MusicEffectDriver& operator=(const MusicEffectDriver&) = delete;

    void EnableDevice(int deviceIndex) override;
    void DisableDevice(int deviceIndex) override;
    // Starts capture and the colour thread unless running.
    void Start() override;
    // Stops capture (returns once the capture thread has ended) and asks the colour thread to end, if
    // running. The colour thread ends at its current wait, after Stop has returned.
    void Stop() override;

    bool IsRunning() const;
    AudioEffect& Effect() noexcept { return *m_effect; }

private:
    mutable std::mutex m_mutex;
    const std::unique_ptr<IColourOutput> m_output;
    const std::unique_ptr<EasyEffect> m_effect;
    // Last: destroyed first, so that no packet reaches an effect that is gone.
    const std::unique_ptr<IAudioCapture> m_capture;
    bool m_running = false;
};

} // namespace ovled
