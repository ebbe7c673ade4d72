// The firmware's element format, shared by item descriptions and group lists: a header word, an
// element count, then elements of (type, data length, data). ElementCursor walks such a buffer and
// never reads outside it, whatever the counts and lengths inside say: the buffers come from outside.
// Used by the item model, the registry's enumerator and the virtual board's encoder. No shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ovled {

// Replies larger than this are never parsed past it (the service's buffers are this size).
inline constexpr std::size_t kFirmwareBufferBytes = 4096;
inline constexpr std::size_t kElementCountOffset = 4;
inline constexpr std::size_t kFirstElementOffset = 8;
inline constexpr std::size_t kElementHeaderBytes = 4;

// Distance from one element to the next: small values sit in a fixed 8-byte slot, longer data is
// followed by 4 bytes of padding.
constexpr std::size_t ElementStride(std::uint16_t dataLength) noexcept
{
    return dataLength <= 4 ? 12 : 8 + static_cast<std::size_t>(dataLength);
}

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) noexcept;
std::uint16_t ReadLittleEndian16(const std::uint8_t* bytes) noexcept;

// The element count at offset 4; 0 when the buffer is too short to hold it.
std::uint32_t ElementCount(const std::uint8_t* buffer, std::size_t size) noexcept;

class ElementCursor {
public:
    ElementCursor() = default;
    // A cursor on the first element of `buffer` (which holds `size` readable bytes).
    ElementCursor(const std::uint8_t* buffer, std::size_t size) noexcept
        : m_buffer(buffer), m_size(size), m_offset(kFirstElementOffset)
    {
    }

    // The element's header lies inside the buffer.
    bool Valid() const noexcept;
    std::size_t Offset() const noexcept { return m_offset; }
    std::uint16_t Type() const noexcept;
    std::uint16_t DataLength() const noexcept;
    // The first 32-bit word of the data; empty when those four bytes lie outside the buffer.
    std::optional<std::uint32_t> Value() const noexcept;
    // The data as text: up to the first NUL, the data length or the buffer's end, whichever comes first;
    // empty when the data starts outside the buffer.
    std::optional<std::string_view> String() const noexcept;
    // Moves to the next element. False when this element's header was outside the buffer, in which
    // case the cursor stays invalid.
    bool Next() noexcept;
    // Moves `count` elements on; false as soon as one move fails.
    bool Skip(std::size_t count) noexcept;

private:
    const std::uint8_t* m_buffer = nullptr;
    std::size_t m_size = 0;
    std::size_t m_offset = 0;
};

} // namespace ovled
