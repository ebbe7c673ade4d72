#include "devices/BoardMusicFirmware.h"

namespace ovled {

bool BoardMusicFirmware::ItemExists(std::uint32_t id)
{
    return m_board.Registry().Exists(id);
}

bool BoardMusicFirmware::WriteItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags)
{
    return m_board.Registry().Write(id, value, flags) != 0;
}

void BoardMusicFirmware::WriteEcRegister(std::uint8_t bank, std::uint8_t address, std::uint8_t value)
{
    m_board.Ec().WriteRegister(bank, address, value);
}

std::mutex& BoardMusicFirmware::StripSelectionMutex()
{
    return m_board.StripSelection();
}

} // namespace ovled
