#include "hardware/ElementFormat.h"

#include <cstring>

namespace ovled {

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) noexcept
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint16_t ReadLittleEndian16(const std::uint8_t* bytes) noexcept
{
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t ElementCount(const std::uint8_t* buffer, std::size_t size) noexcept
{
    if (!buffer || size < kElementCountOffset + 4)
        return 0;
    return ReadLittleEndian32(buffer + kElementCountOffset);
}

bool ElementCursor::Valid() const noexcept
{
    return m_buffer && m_offset <= m_size && m_size - m_offset >= kElementHeaderBytes;
}

std::uint16_t ElementCursor::Type() const noexcept
{
    return Valid() ? ReadLittleEndian16(m_buffer + m_offset) : 0;
}

std::uint16_t ElementCursor::DataLength() const noexcept
{
    return Valid() ? ReadLittleEndian16(m_buffer + m_offset + 2) : 0;
}

std::optional<std::uint32_t> ElementCursor::Value() const noexcept
{
    if (!Valid() || m_size - m_offset < kElementHeaderBytes + 4)
        return std::nullopt;
    return ReadLittleEndian32(m_buffer + m_offset + kElementHeaderBytes);
}

std::optional<std::string_view> ElementCursor::String() const noexcept
{
    if (!Valid())
        return std::nullopt;
    const std::size_t start = m_offset + kElementHeaderBytes;
    const std::size_t available = m_size - start;
    const std::size_t limit = DataLength() < available ? DataLength() : available;
    const auto* text = reinterpret_cast<const char*>(m_buffer + start);
    const void* nul = std::memchr(text, '\0', limit);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : limit;
    return std::string_view(text, length);
}

bool ElementCursor::Next() noexcept
{
    if (!Valid())
        return false;
    m_offset += ElementStride(DataLength());
    return true;
}

bool ElementCursor::Skip(std::size_t count) noexcept
{
    for (std::size_t i = 0; i < count; ++i) {
        if (!Next())
            return false;
    }
    return true;
}

} // namespace ovled
