#include "simulator/ElementWriter.h"

#include "hardware/ElementFormat.h"
#include "hardware/ItemIds.h"

#include <cstring>

namespace ovled::sim {
namespace {

constexpr std::uint16_t kIdType = 1;
constexpr std::uint16_t kNameType = 2;
constexpr std::uint16_t kReservedType = 3;
constexpr std::uint16_t kValueType = 4;
constexpr std::uint16_t kRangeType = 5;
constexpr std::uint16_t kStringType = 9;
constexpr std::uint32_t kDescriptionHeader = 0x00000001;

std::string_view Bounded(const char* text, std::size_t capacity)
{
    const void* nul = std::memchr(text, '\0', capacity);
    return std::string_view(text, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : capacity);
}

} // namespace

void WriteLittleEndian32(std::uint8_t* bytes, std::uint32_t value) noexcept
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

ElementWriter::ElementWriter(std::uint32_t header) : m_bytes(kFirstElementOffset, 0)
{
    WriteLittleEndian32(m_bytes.data(), header);
}

ElementWriter& ElementWriter::AddData(const std::vector<std::uint8_t>& data, std::uint16_t type)
{
    const auto length = static_cast<std::uint16_t>(data.size());
    const std::size_t start = m_bytes.size();
    m_bytes.resize(start + ElementStride(length), 0);
    m_bytes[start] = static_cast<std::uint8_t>(type);
    m_bytes[start + 1] = static_cast<std::uint8_t>(type >> 8);
    m_bytes[start + 2] = static_cast<std::uint8_t>(length);
    m_bytes[start + 3] = static_cast<std::uint8_t>(length >> 8);
    std::memcpy(m_bytes.data() + start + kElementHeaderBytes, data.data(), data.size());
    ++m_count;
    return *this;
}

ElementWriter& ElementWriter::AddValue(std::uint32_t value, std::uint16_t type)
{
    std::vector<std::uint8_t> data(4);
    WriteLittleEndian32(data.data(), value);
    return AddData(data, type);
}

ElementWriter& ElementWriter::AddString(std::string_view text, std::uint16_t type)
{
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return AddData(data, type);
}

std::vector<std::uint8_t> ElementWriter::Finish() const
{
    std::vector<std::uint8_t> bytes = m_bytes;
    WriteLittleEndian32(bytes.data() + kElementCountOffset, m_count);
    return bytes;
}

std::vector<std::uint8_t> EncodeDescription(const ItemRecord& item, std::uint32_t value)
{
    ElementWriter writer(kDescriptionHeader);
    writer.AddValue(item.id, kIdType)
        .AddString(Bounded(item.name, kNameBytes), kNameType)
        .AddValue(0, kReservedType)
        .AddValue(value, kValueType);
    const std::uint32_t strings = item.stringCount < kMaxOptionStrings ? item.stringCount : kMaxOptionStrings;
    switch (items::KindOf(item.id)) {
    case items::kKindBoolean:
        break;
    case items::kKindString:
        writer.AddValue(strings, kRangeType);
        for (std::uint32_t i = 0; i < strings; ++i)
            writer.AddString(Bounded(item.strings[i], kOptionStringBytes), kStringType);
        break;
    default:
        writer.AddValue(item.baseWord, kRangeType)
            .AddValue(item.stepWord, kRangeType)
            .AddValue(item.optionCount, kRangeType);
        if (strings > 0) {
            writer.AddValue(strings, kRangeType);
            for (std::uint32_t i = 0; i < strings; ++i)
                writer.AddString(Bounded(item.strings[i], kOptionStringBytes), kStringType);
        }
        break;
    }
    return writer.Finish();
}

std::vector<std::uint8_t> EncodeGroupList(std::uint32_t header, const std::vector<std::uint32_t>& selectors,
                                          const std::vector<std::uint32_t>& ids)
{
    ElementWriter writer(header);
    for (std::size_t i = 0; i < selectors.size(); ++i) {
        std::vector<std::uint8_t> data(8);
        WriteLittleEndian32(data.data(), selectors[i]);
        WriteLittleEndian32(data.data() + 4, i < ids.size() ? ids[i] : 0);
        writer.AddData(data, kIdType);
    }
    return writer.Finish();
}

void Malform(std::vector<std::uint8_t>& reply, Malformation how)
{
    if (reply.size() < kFirstElementOffset)
        return;
    switch (how) {
    case Malformation::None:
        break;
    case Malformation::HugeCount:
        WriteLittleEndian32(reply.data() + kElementCountOffset, 16'000'000);
        break;
    case Malformation::LengthPastEnd: {
        // The last element claims a data length that runs far beyond the reply.
        ElementCursor cursor(reply.data(), reply.size());
        std::size_t last = kFirstElementOffset;
        for (std::uint32_t i = 0; i < ElementCount(reply.data(), reply.size()) && cursor.Valid(); ++i) {
            last = cursor.Offset();
            cursor.Next();
        }
        if (last + kElementHeaderBytes <= reply.size()) {
            reply[last + 2] = 0xF0;
            reply[last + 3] = 0xFF;
        }
        break;
    }
    case Malformation::Truncated:
        reply.resize(reply.size() > kFirstElementOffset + 18 ? kFirstElementOffset + 18 : reply.size() - 1);
        break;
    case Malformation::Empty:
        reply.clear();
        break;
    case Malformation::Oversized:
        reply.resize(kFirmwareBufferBytes + 1904, 0xAB);
        break;
    case Malformation::TooFewElements:
        WriteLittleEndian32(reply.data() + kElementCountOffset, 2);
        break;
    }
}

} // namespace ovled::sim
