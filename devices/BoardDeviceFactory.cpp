#include "devices/BoardDeviceFactory.h"

#include "audio/FirmwareColourOutput.h"
#include "audio/MusicEffectDriver.h"
#include "devices/BoardMusicFirmware.h"
#include "hardware/CpuTemperature.h"
#include "hardware/ExternalLedStripControl.h"

namespace ovled {

BoardDeviceFactory::BoardDeviceFactory(platform::IWaitClock& clock, CaptureSource capture)
    : m_clock(clock), m_capture(std::move(capture))
{
}

std::unique_ptr<ILedDevice> BoardDeviceFactory::CreateOnboardController()
{
    return std::make_unique<LedControl>(m_clock);
}

std::unique_ptr<ILedDevice> BoardDeviceFactory::CreateStripController(int stripIndex)
{
    return std::make_unique<ExternalLedStripControl>(stripIndex, m_clock);
}

int BoardDeviceFactory::GetExternalStripCount()
{
    return ::ovled::GetExternalStripCount();
}

std::unique_ptr<IMusicDriver> BoardDeviceFactory::CreateMusicDriver()
{
    return std::make_unique<MusicEffectDriver>(m_capture(), std::make_unique<FirmwareColourOutput>(ProcessMusicFirmware()),
                                               m_clock);
}

// The process's instances live as long as the process: the lighting manager that uses them is never
// destroyed and its threads may still run at exit.
IDeviceFactory& DefaultDeviceFactory()
{
    static auto* factory = new BoardDeviceFactory;
    return *factory;
}

ITemperatureSource& DefaultTemperatureSource()
{
    static auto* source = new CpuTemperatureSource;
    return *source;
}

} // namespace ovled
