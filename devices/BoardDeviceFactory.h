// BoardDeviceFactory: the lighting devices of one board: the onboard LedControl, one
// ExternalLedStripControl per strip the firmware reports, and a MusicEffectDriver over an audio source
// whose colour goes to the output the lighting manager gives it. The composition root owns
// the process's factory; tests build their own over a virtual board, a stepped clock and a synthetic
// capture. Any thread.
#pragma once

#include "audio/AudioCapture.h"
#include "hardware/Board.h"
#include "lighting/DeviceContract.h"
#include "lighting/LedConfigFile.h"
#include "platform/Clock.h"
#include "platform/ThreadSession.h"

#include <functional>
#include <memory>

namespace ovled {

// Makes the audio source of one music driver.
using CaptureSource = std::function<std::unique_ptr<IAudioCapture>()>;

class BoardDeviceFactory final : public IDeviceFactory {
public:
    // `colourClock` paces the music colour thread, whose runs begin `sessions`. The board and the file
    // must outlive the factory, and the factory every device it made.
    BoardDeviceFactory(Board& board, LedConfigFile& config, platform::IWaitClock& colourClock, CaptureSource capture,
                       platform::IThreadSessions& sessions = platform::NoThreadSessions());

    std::unique_ptr<ILedDevice> CreateOnboardController() override;
    std::unique_ptr<ILedDevice> CreateStripController(int stripIndex) override;
    int GetExternalStripCount() override;
    std::unique_ptr<IMusicDriver> CreateMusicDriver(std::unique_ptr<IColourOutput> output) override;

private:
    Board& m_board;
    LedConfigFile& m_config;
    platform::IWaitClock& m_colourClock;
    const CaptureSource m_capture;
    platform::IThreadSessions& m_sessions;
};

} // namespace ovled
