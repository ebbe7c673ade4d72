// The music colour's way to the board: IMusicFirmware over a Board's item registry, EC port and strip-
// selection lock. Owned by the device factory, which outlives every music driver it made (and so every
// colour thread); called on the colour thread.
#pragma once

#include "audio/FirmwareColourOutput.h"
#include "hardware/Board.h"

namespace ovled {

class BoardMusicFirmware final : public IMusicFirmware {
public:
    explicit BoardMusicFirmware(Board& board) noexcept : m_board(board) {}

    bool ItemExists(std::uint32_t id) override;
    bool WriteItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) override;
    void WriteEcRegister(std::uint8_t bank, std::uint8_t address, std::uint8_t value) override;
    std::mutex& StripSelectionMutex() override;

private:
    Board& m_board;
};

} // namespace ovled
