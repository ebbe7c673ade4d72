// The music colour's way to the board: IMusicFirmware over the process's firmware item registry (every
// item asked for afresh on every call, so a test's board or a registry loaded late is always the one
// used), the EC port and the process-wide strip-selection lock. Stateless; one per process, never
// destroyed, called on the colour thread.
#pragma once

#include "audio/FirmwareColourOutput.h"

namespace ovled {

class BoardMusicFirmware final : public IMusicFirmware {
public:
    bool ItemExists(std::uint32_t id) override;
    std::optional<std::uint32_t> ReadItem(std::uint32_t id) override;
    void WriteItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) override;
    void WriteEcRegister(std::uint8_t bank, std::uint8_t address, std::uint8_t value) override;
    std::mutex& StripSelectionMutex() override;
};

// The process's one instance: it outlives every colour thread, which may still tick at process exit.
IMusicFirmware& ProcessMusicFirmware();

} // namespace ovled
