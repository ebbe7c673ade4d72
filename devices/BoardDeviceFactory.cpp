#include "devices/BoardDeviceFactory.h"

#include "audio/MusicEffectDriver.h"
#include "leds/ExternalLedStripControl.h"

namespace ovled {

BoardDeviceFactory::BoardDeviceFactory(Board& board, LedConfigFile& config, platform::IWaitClock& colourClock,
                                       CaptureSource capture, platform::IThreadSessions& sessions)
    : m_board(board), m_config(config), m_colourClock(colourClock), m_capture(std::move(capture)),
      m_sessions(sessions)
{
}

std::unique_ptr<ILedDevice> BoardDeviceFactory::CreateOnboardController()
{
    return std::make_unique<LedControl>(m_board, m_config);
}

std::unique_ptr<ILedDevice> BoardDeviceFactory::CreateStripController(int stripIndex)
{
    return std::make_unique<ExternalLedStripControl>(stripIndex, m_board, m_config);
}

int BoardDeviceFactory::GetExternalStripCount()
{
    return ::ovled::GetExternalStripCount(m_board.Registry());
}

std::unique_ptr<IMusicDriver> BoardDeviceFactory::CreateMusicDriver(std::unique_ptr<IColourOutput> output)
{
    return std::make_unique<MusicEffectDriver>(m_capture(), std::move(output), m_colourClock, m_sessions);
}

} // namespace ovled
