// ElementWriter: builds buffers in the firmware's element format (item descriptions, group lists) for
// the virtual board; the exact inverse of the parser in hardware/. Also the deliberate malformations
// the board can apply to a reply. No shared state.
#pragma once

#include "simulator/BoardState.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace ovled::sim {

class ElementWriter {
public:
    explicit ElementWriter(std::uint32_t header = 0);
    ElementWriter& AddValue(std::uint32_t value, std::uint16_t type = 1);
    // A NUL-terminated string (the data length counts the NUL).
    ElementWriter& AddString(std::string_view text, std::uint16_t type = 2);
    // Raw data of any length (for values longer than one word).
    ElementWriter& AddData(const std::vector<std::uint8_t>& data, std::uint16_t type = 1);
    std::uint32_t Count() const noexcept { return m_count; }
    // The buffer with its element count filled in.
    std::vector<std::uint8_t> Finish() const;

private:
    std::vector<std::uint8_t> m_bytes;
    std::uint32_t m_count = 0;
};

// The description of one item, in the layout its kind calls for: id, name, a reserved element, the
// value, then base/step/option count (+ extra strings) for numbers or the option strings for strings.
std::vector<std::uint8_t> EncodeDescription(const ItemRecord& item, std::uint32_t value);
// A group list: one element per selector; each element's data is the selector followed by the id.
std::vector<std::uint8_t> EncodeGroupList(std::uint32_t header, const std::vector<std::uint32_t>& selectors,
                                          const std::vector<std::uint32_t>& ids);
void Malform(std::vector<std::uint8_t>& reply, Malformation how);

void WriteLittleEndian32(std::uint8_t* bytes, std::uint32_t value) noexcept;

} // namespace ovled::sim
