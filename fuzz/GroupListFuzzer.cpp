// Any bytes as the firmware's answers to a group load: the first reply is the group list, the later
// ones the item descriptions; each reply also claims a length of its own. The registry and the
// enumerator must never read outside a reply nor walk further than the list's bytes.
#include "fuzz/FuzzSupport.h"
#include "hardware/BiosItemRegistry.h"
#include "hardware/ItemIds.h"

#include <algorithm>
#include <cstring>

namespace {

// Replies are cut from the input: [2-byte size][4-byte claimed length][size bytes] ...
class FuzzedFirmware final : public ovled::IFirmwareTransport {
public:
    FuzzedFirmware(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint32_t AcpiInit() override { return 1; }
    std::uint32_t AcpiGetItem(std::uint32_t, std::uint32_t* value) override
    {
        *value = 0;
        return 1;
    }
    std::uint32_t AcpiGetItemEx(std::uint32_t, std::uint32_t, std::uint32_t* value) override
    {
        return AcpiGetItem(0, value);
    }
    std::uint32_t AcpiSetItem(std::uint32_t, std::uint32_t, std::uint32_t) override { return 1; }
    std::uint32_t AcpiSetItemBuffer(std::uint32_t, std::uint32_t, std::uint8_t*, std::uint32_t*) override { return 0; }
    std::uint32_t AcpiMbif(std::uint8_t*, std::uint32_t*) override { return 0; }
    std::uint32_t AcpiGGrp(std::uint32_t, std::uint8_t* buffer, std::uint32_t* length) override
    {
        return Reply(buffer, length);
    }
    std::uint32_t AcpiCallMethod(const std::uint32_t*, std::uint8_t* buffer, std::uint32_t* length) override
    {
        return Reply(buffer, length);
    }

private:
    std::uint32_t Reply(std::uint8_t* buffer, std::uint32_t* length)
    {
        if (m_size - m_offset < 6)
            return 0;
        const std::size_t size =
            std::min<std::size_t>(m_data[m_offset] | m_data[m_offset + 1] << 8, m_size - m_offset - 6);
        std::uint32_t claimed;
        std::memcpy(&claimed, m_data + m_offset + 2, 4);
        // Never more than the caller's capacity, as the bridge guarantees; the claimed length may say
        // anything.
        std::memcpy(buffer, m_data + m_offset + 6, std::min<std::size_t>(size, *length));
        *length = claimed;
        m_offset += 6 + size;
        return 1;
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_offset = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ovled::fuzz::InstallSilentNotifier();
    {
        FuzzedFirmware firmware(data, size);
        ovled::BiosItemRegistry registry(firmware);
        if (ovled::BiosItem* item = registry.Get(ovled::items::kOnboardSwitch))
            (void)item->GetName();
        (void)registry.Exists(ovled::items::kStripColor);
    }
    {
        FuzzedFirmware firmware(data, size);
        ovled::BiosItemEnumerator walk(firmware);
        if (walk.Begin(ovled::items::kSensorGroup)) {
            for (int steps = 0; !walk.AtEnd() && steps < 4096; ++steps, walk.Next()) {
                if (auto item = walk.CreateItem())
                    (void)item->IndexToString(0);
            }
        }
    }
    return 0;
}
