// The CPU temperature of the thermal mode. FindCpuTemperatureItem walks the firmware's sensor group for
// the CPU's temperature item; CpuTemperatureSource searches once (on its first reading) and keeps what it
// found, "none" included, for its life. The process has one source (the composition root's), so the
// search runs once per process. Read by the thermal thread; thread-safe.
#pragma once

#include "hardware/BiosItem.h"
#include "lighting/DeviceContract.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

namespace ovled {

// Whether an item name, upper-cased letter by letter (ASCII letters only, as the C locale does),
// contains "CPU".
bool NamesCpu(std::wstring_view name) noexcept;

// The first item of the sensor group (6), in the group's order, that holds a temperature (kind 3, tenths
// of a degree) and whose name contains "CPU" in any letter case. Null when there is none or the group
// cannot be listed. The item is the caller's and reaches the firmware through `firmware`, which must
// outlive it.
std::unique_ptr<BiosItem> FindCpuTemperatureItem(IFirmwareTransport& firmware);

class CpuTemperatureSource final : public ITemperatureSource {
public:
    // Searches and reads through `firmware`, which must outlive the source.
    explicit CpuTemperatureSource(IFirmwareTransport& firmware) noexcept : m_firmware(firmware) {}

    // The item's tenths of a degree divided by 10. Nothing when the board has no CPU temperature item;
    // the previous reading when a read fails; nothing when no read has succeeded yet.
    std::optional<int> ReadCelsius() override;

    // How often the search ran (0 or 1).
    int Searches();

private:
    IFirmwareTransport& m_firmware;
    std::mutex m_mutex;
    int m_searches = 0;
    std::unique_ptr<BiosItem> m_item;
    std::optional<int> m_last;
};

} // namespace ovled
