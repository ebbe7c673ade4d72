// Firmware item ids the service uses, and the parts of an id (group, category, kind, index).
// Constants only; shared by the item model, the registry, the LED controllers, the colour writers and
// the virtual board.
#pragma once

#include <cstdint>

namespace ovled::items {

// Group 0x13: the LED items.
inline constexpr std::uint32_t kLedGroup = 0x13;
inline constexpr std::uint32_t kOnboardSwitch = 0x13060040;      // present: EC colour path; 1 = on
inline constexpr std::uint32_t kOnboardHostControl = 0x13060041; // 1 = the service drives the colour
inline constexpr std::uint32_t kOnboardEffect = 0x13060042;      // effect code bits 0-7, colour above
inline constexpr std::uint32_t kOnboardColor = 0x13060043;       // colour << 8 (no switch item)
inline constexpr std::uint32_t kStripSelector = 0x13060046;      // write: strip index; read: count in bits 8-15
inline constexpr std::uint32_t kStripHostControl = 0x13060047;   // of the selected strip
inline constexpr std::uint32_t kStripEffect = 0x13060048;        // of the selected strip
inline constexpr std::uint32_t kStripColor = 0x13060049;         // of the selected strip
inline constexpr std::uint32_t kAuxLed = 0x13080045;             // kind 8; passed through only

// Group 6: sensors; the thermal mode looks for a kind-3 item named "...CPU..." there.
inline constexpr std::uint32_t kSensorGroup = 6;

// Kinds (bits 16-19): they pick the item class and the unit.
inline constexpr std::uint32_t kKindPlain = 0;
inline constexpr std::uint32_t kKindHundredths = 1;   // exponent -2
inline constexpr std::uint32_t kKindThousandths = 2;  // exponent -3
inline constexpr std::uint32_t kKindTemperature = 3;  // tenths of a degree
inline constexpr std::uint32_t kKindBoolean = 7;
inline constexpr std::uint32_t kKindString = 8;
inline constexpr std::uint32_t kKindThousandths2 = 12; // exponent -3
inline constexpr std::uint32_t kKindComposited = 13;

// Flags words passed through to the firmware with a write.
inline constexpr std::uint32_t kFlagsDefault = 1;
inline constexpr std::uint32_t kFlagsHost = 3;

constexpr std::uint32_t GroupOf(std::uint32_t id) noexcept { return id >> 24; }
constexpr std::uint32_t CategoryOf(std::uint32_t id) noexcept { return (id >> 20) & 0xF; }
constexpr std::uint32_t KindOf(std::uint32_t id) noexcept { return (id >> 16) & 0xF; }
constexpr std::uint32_t IndexOf(std::uint32_t id) noexcept { return id & 0xFFFF; }
// The registry's key: kind and category play no part in finding an item.
constexpr std::uint32_t RegistryKey(std::uint32_t id) noexcept { return id & 0xFF00FFFF; }

} // namespace ovled::items
