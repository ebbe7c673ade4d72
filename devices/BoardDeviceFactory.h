// The process's composition of the lighting devices: the onboard LedControl, one
// ExternalLedStripControl per strip the firmware reports, a MusicEffectDriver over the platform's audio
// capture whose colour goes to the board through the firmware items and the EC port, and the CPU
// temperature of the firmware's sensor group. DefaultDeviceFactory() and DefaultTemperatureSource()
// (lighting/DeviceContract.h) answer with the process's instances; tests build their own factory over
// a stepped clock and a synthetic capture. Any thread.
#pragma once

#include "audio/AudioCapture.h"
#include "lighting/DeviceContract.h"
#include "platform/Clock.h"

#include <functional>
#include <memory>

namespace ovled {

// Makes the audio source of one music driver.
using CaptureSource = std::function<std::unique_ptr<IAudioCapture>()>;

// The platform's audio source: loopback capture of the default output on Windows; on other hosts a
// source that never delivers a packet (the music colour then stays black).
std::unique_ptr<IAudioCapture> PlatformCapture();

class BoardDeviceFactory final : public IDeviceFactory {
public:
    // `clock` paces the music colour thread and the onboard switch's pause.
    explicit BoardDeviceFactory(platform::IWaitClock& clock = platform::SystemClock(),
                                CaptureSource capture = PlatformCapture);

    std::unique_ptr<ILedDevice> CreateOnboardController() override;
    std::unique_ptr<ILedDevice> CreateStripController(int stripIndex) override;
    int GetExternalStripCount() override;
    std::unique_ptr<IMusicDriver> CreateMusicDriver() override;

private:
    platform::IWaitClock& m_clock;
    const CaptureSource m_capture;
};

} // namespace ovled
