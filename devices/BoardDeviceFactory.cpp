#include "devices/BoardDeviceFactory.h"

#include "audio/FirmwareColourOutput.h"
#include "audio/MusicEffectDriver.h"
#include "hardware/ExternalLedStripControl.h"

namespace ovled {

BoardDeviceFactory::BoardDeviceFactory(Board& board, LedConfigFile& config, platform::IWaitClock& colourClock,
                                       CaptureSource capture, platform::IThreadSessions& sessions)
    : m_board(board), m_config(config), m_colourClock(colourClock), m_capture(std::move(capture)),
      m_sessions(sessions), m_musicFirmware(board)
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

std::unique_ptr<IMusicDriver> BoardDeviceFactory::CreateMusicDriver()
{
    return std::make_unique<MusicEffectDriver>(m_capture(), std::make_unique<FirmwareColourOutput>(m_musicFirmware),
                                               m_colourClock, m_sessions);
}

} // namespace ovled
