#include "devices/BoardMusicFirmware.h"

#include "hardware/EcPort.h"
#include "hardware/ItemAccess.h"
#include "hardware/StripSelection.h"

namespace ovled {

bool BoardMusicFirmware::ItemExists(std::uint32_t id)
{
    return firmware::Exists(id);
}

std::optional<std::uint32_t> BoardMusicFirmware::ReadItem(std::uint32_t id)
{
    return firmware::Read(id);
}

void BoardMusicFirmware::WriteItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags)
{
    (void)firmware::Write(id, value, flags);
}

void BoardMusicFirmware::WriteEcRegister(std::uint8_t bank, std::uint8_t address, std::uint8_t value)
{
    EcPort::Instance()->WriteRegister(bank, address, value);
}

std::mutex& BoardMusicFirmware::StripSelectionMutex()
{
    return ::ovled::StripSelectionMutex();
}

IMusicFirmware& ProcessMusicFirmware()
{
    static auto* firmware = new BoardMusicFirmware;
    return *firmware;
}

} // namespace ovled
