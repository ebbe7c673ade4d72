// The devices of a machine without the board's components: an onboard zone that is never on, no
// strips, no music capture and no temperature. The hardware layer replaces this file's definitions
// once it is linked into the service.
#include "lighting/DeviceContract.h"

namespace ovled {
namespace {

class AbsentLed final : public ILedDevice {
public:
    bool IsOn() override { return false; }
    bool EnterMusicMode() override { return false; }
    bool EnterThermalMode() override { return false; }
    void ShowTemperature(int) override {}
    bool SetEffect1(std::uint32_t) override { return false; }
};

class AbsentMusic final : public IMusicDriver {
public:
    void EnableDevice(int) override {}
    void DisableDevice(int) override {}
    void Start() override {}
    void Stop() override {}
};

class AbsentBoard final : public IDeviceFactory, public ITemperatureSource {
public:
    std::unique_ptr<ILedDevice> CreateOnboardController() override { return std::make_unique<AbsentLed>(); }
    std::unique_ptr<ILedDevice> CreateStripController(int) override { return std::make_unique<AbsentLed>(); }
    int GetExternalStripCount() override { return 0; }
    std::unique_ptr<IMusicDriver> CreateMusicDriver() override { return std::make_unique<AbsentMusic>(); }
    std::optional<int> ReadCelsius() override { return std::nullopt; }
};

AbsentBoard& Board()
{
    static AbsentBoard board;
    return board;
}

} // namespace

IDeviceFactory& DefaultDeviceFactory() { return Board(); }
ITemperatureSource& DefaultTemperatureSource() { return Board(); }

} // namespace ovled
