// The lighting manager's device contract: what it (and the power event window) needs from the LED
// controllers, the music effect driver and the CPU temperature. The board's implementations live above
// this layer (leds/, audio/, devices/); tests supply fakes.
#pragma once

#include "lighting/ColourOutput.h"
#include "lighting/HslToRgb.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace ovled {

// Device index of the onboard LED zone; the external strips are 0..n-1.
inline constexpr int kOnboardDevice = -1;

// Where a colour comes from. The firmware hears each source's colours by that source's own rules (the
// onboard zone's register order, a strip's byte order), which the controllers keep.
enum class ColourSource { Music, Thermal };

// The operations of the LED controller interface that the lighting side calls.
class ILedDevice {
public:
    virtual ~ILedDevice() = default;
    // Whether the device's LEDs are switched on; false when that cannot be read.
    virtual bool IsOn() = 0;
    // Hand the device's colour over to the service (the two are one operation); true when accepted.
    virtual bool EnterMusicMode() = 0;
    virtual bool EnterThermalMode() = 0;
    // Gives the device back to the firmware's own effect; true when accepted.
    virtual bool LeaveHostControl() = 0;
    // The one way a colour reaches the device, whichever source made it; the caller has entered the
    // device's mode before. True when the firmware took it.
    virtual bool ShowColour(Rgb colour, ColourSource source) = 0;
    // Static colour effect (code 1) with a colour argument (red bits 0-7, green 8-15, blue 16-23).
    virtual bool SetEffect1(std::uint32_t colour) = 0;
};

// The music mode's entry point: the set of devices that show the music colour, and its start/stop.
class IMusicDriver {
public:
    virtual ~IMusicDriver() = default;
    virtual void EnableDevice(int deviceIndex) = 0;
    virtual void DisableDevice(int deviceIndex) = 0;
    // Start capture and colouring unless running; Stop returns once capture has ended.
    virtual void Start() = 0;
    virtual void Stop() = 0;
};

// Builds the devices of one board.
class IDeviceFactory {
public:
    virtual ~IDeviceFactory() = default;
    virtual std::unique_ptr<ILedDevice> CreateOnboardController() = 0;
    virtual std::unique_ptr<ILedDevice> CreateStripController(int stripIndex) = 0;
    // Number of external strips, 0..255; 0 when the board reports none.
    virtual int GetExternalStripCount() = 0;
    // A driver whose colour of every tick goes to `output` (the manager's routing to its devices).
    virtual std::unique_ptr<IMusicDriver> CreateMusicDriver(std::unique_ptr<IColourOutput> output) = 0;
};

// The CPU temperature for the thermal mode, in whole degrees; empty when there is nothing to show
// (the board has no CPU temperature sensor, or no reading has ever succeeded).
class ITemperatureSource {
public:
    virtual ~ITemperatureSource() = default;
    virtual std::optional<int> ReadCelsius() = 0;
};

} // namespace ovled
