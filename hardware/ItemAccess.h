// One firmware item access by id, through the process's item registry (BiosItemRegistry::Instance(),
// asked afresh on every call). An item the registry does not have (no firmware, or a board without that
// item) reads and writes as a firmware access that failed: no call goes out, a read has no value and a
// write answers 0. Used by the LED controllers, the CPU temperature and the music colour's firmware.
// Any thread.
#pragma once

#include <cstdint>
#include <optional>

namespace ovled::firmware {

[[nodiscard]] bool Exists(std::uint32_t id);
// The item's live value; empty when the item is missing or the read failed.
[[nodiscard]] std::optional<std::uint32_t> Read(std::uint32_t id);
// The item's SetValueEx result (1 when the firmware took the value); 0 when the item is missing.
[[nodiscard]] std::int32_t Write(std::uint32_t id, std::uint32_t value, std::uint32_t flags);

} // namespace ovled::firmware
