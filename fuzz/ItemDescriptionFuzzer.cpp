// Any bytes as an item description, for every item class: Init and every conversion must stay inside
// the description, whatever its counts and lengths claim.
#include "fuzz/FuzzSupport.h"
#include "hardware/BiosItem.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

template <class Item>
void Exercise(const std::uint8_t* data, std::size_t size)
{
    static ovled::NoFirmwareTransport transport;
    Item item(transport);
    (void)item.Init(data, static_cast<std::uint32_t>(size));
    (void)item.GetName();
    (void)item.GetStoredValue();
    (void)item.IsCategory8();
    const std::int32_t options = item.GetOptionCount();
    const std::uint32_t last = options > 0 && options < 8 ? static_cast<std::uint32_t>(options) : 8;
    for (std::uint32_t i = 0; i <= last; ++i) {
        std::int32_t numerator = 0, denominator = 0;
        (void)item.IndexToString(i);
        (void)item.IndexToValue(i);
        item.IndexToRational(i, &numerator, &denominator);
    }
    (void)item.IndexToString(0xFFFFFFFF);
    (void)item.IndexToString(0x80000000);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ovled::fuzz::InstallSilentNotifier();
    Exercise<ovled::BiosNumberItem>(data, size);
    Exercise<ovled::BiosStringItem>(data, size);
    Exercise<ovled::BiosBooleanItem>(data, size);
    Exercise<ovled::BiosCompositedItem>(data, size);
    Exercise<ovled::BasicBiosNumberItem<char>>(data, size);
    return 0;
}
