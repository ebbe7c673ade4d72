#include "hardware/ItemAccess.h"

#include "hardware/BiosItemRegistry.h"

namespace ovled::firmware {

bool Exists(std::uint32_t id)
{
    return BiosItemRegistry::Instance()->Exists(id);
}

std::optional<std::uint32_t> Read(std::uint32_t id)
{
    BiosItem* item = BiosItemRegistry::Instance()->Get(id);
    std::uint32_t value = 0;
    if (!item || !item->GetValue(&value))
        return std::nullopt;
    return value;
}

std::int32_t Write(std::uint32_t id, std::uint32_t value, std::uint32_t flags)
{
    BiosItem* item = BiosItemRegistry::Instance()->Get(id);
    return item ? item->SetValueEx(value, flags) : 0;
}

} // namespace ovled::firmware
