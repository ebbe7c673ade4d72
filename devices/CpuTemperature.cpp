#include "devices/CpuTemperature.h"

#include "hardware/BiosItemRegistry.h"
#include "hardware/ItemIds.h"

#include <algorithm>

namespace ovled {

bool NamesCpu(std::wstring_view name) noexcept
{
    static constexpr std::wstring_view kCpu = L"CPU";
    const auto sameUpperCase = [](wchar_t c, wchar_t upper) {
        return (c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c) == upper;
    };
    return std::search(name.begin(), name.end(), kCpu.begin(), kCpu.end(), sameUpperCase) != name.end();
}

std::unique_ptr<BiosItem> FindCpuTemperatureItem(IFirmwareTransport& firmware)
{
    BiosItemEnumerator walk(firmware);
    if (!walk.Begin(items::kSensorGroup))
        return nullptr;
    for (; !walk.AtEnd(); walk.Next()) {
        if (items::KindOf(walk.CurrentId()) != items::kKindTemperature)
            continue;
        std::unique_ptr<BiosItem> item = walk.CreateItem();
        if (item && NamesCpu(item->GetName()))
            return item;
    }
    return nullptr;
}

std::optional<int> CpuTemperatureSource::ReadCelsius()
{
    std::lock_guard lock(m_mutex);
    if (m_searches == 0) {
        m_item = FindCpuTemperatureItem(m_firmware);
        ++m_searches;
    }
    if (!m_item)
        return std::nullopt;
    std::uint32_t tenths = 0;
    if (m_item->GetValue(&tenths))
        m_last = static_cast<int>(tenths / 10);
    return m_last;
}

int CpuTemperatureSource::Searches()
{
    std::lock_guard lock(m_mutex);
    return m_searches;
}

} // namespace ovled
