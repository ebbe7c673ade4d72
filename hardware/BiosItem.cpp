#include "hardware/BiosItem.h"

#include "hardware/ItemIds.h"
#include "platform/Notifier.h"
#include "platform/Text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

namespace ovled {
namespace {

constexpr std::size_t kMaxNameCharacters = 4096;
constexpr int kMaxDecimals = 5;

template <class Char>
std::basic_string<Char> FromAnsi(std::string_view text)
{
    if constexpr (std::is_same_v<Char, wchar_t>)
        return platform::AnsiToWide(text);
    else
        return std::basic_string<Char>(text);
}

template <class Char>
std::basic_string<Char> FromAscii(const std::string& text)
{
    return std::basic_string<Char>(text.begin(), text.end());
}

// The firmware's 24-bit fields: sign-extended from bit 23, except that patterns below -10000 read as
// large unsigned numbers.
std::int64_t Decode24(std::uint32_t word) noexcept
{
    const std::int64_t bits = word & 0xFFFFFF;
    const std::int64_t signedValue = (bits & 0x800000) ? bits - 0x1000000 : bits;
    return signedValue < -10000 ? bits : signedValue;
}

// Firmware fields can ask for powers of ten far beyond 64 bits. The arithmetic wraps as 64-bit
// hardware does, without the undefined behaviour of signed overflow.
std::int64_t MultiplyWrapping(std::int64_t a, std::int64_t b) noexcept
{
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}

std::int64_t AddWrapping(std::int64_t a, std::int64_t b) noexcept
{
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

std::int64_t PowerOfTen(int exponent) noexcept
{
    std::int64_t result = 1;
    for (int i = 0; i < exponent; ++i)
        result = MultiplyWrapping(result, 10);
    return result;
}

std::int32_t SubtractWrapping(std::int32_t value, std::uint32_t amount) noexcept
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) - amount);
}

int ValueExponentAdjustment(std::uint32_t kind) noexcept
{
    switch (kind) {
    case items::kKindHundredths:
        return -2;
    case items::kKindThousandths:
    case items::kKindThousandths2:
        return -3;
    case items::kKindTemperature:
        return -1;
    default:
        return 0;
    }
}

int DisplayDecimalsAdjustment(std::uint32_t kind) noexcept
{
    switch (kind) {
    case items::kKindHundredths:
        return 2;
    case items::kKindThousandths:
    case items::kKindThousandths2:
        return 3;
    case items::kKindTemperature:
        return 4;
    default:
        return 0;
    }
}

// Base and step of a number item after the step word's shift byte has been applied, and the decimal
// exponent that goes with them (before the kind's adjustment).
struct Scale {
    std::int64_t base;
    std::int64_t step;
    int exponent;

    std::int64_t Option(std::int32_t numericIndex) const noexcept
    {
        return AddWrapping(base, MultiplyWrapping(numericIndex, step));
    }
};

Scale MakeScale(std::uint32_t baseWord, std::uint32_t stepWord) noexcept
{
    Scale scale{Decode24(baseWord), Decode24(stepWord), static_cast<std::int8_t>(baseWord >> 24)};
    const int shift = static_cast<int>(stepWord >> 24);
    if (shift & 0x80) {
        const int k = 256 - shift;
        scale.base = MultiplyWrapping(scale.base, PowerOfTen(k));
        scale.exponent -= k;
    } else {
        scale.step = MultiplyWrapping(scale.step, PowerOfTen(shift));
    }
    return scale;
}

int TrailingDecimalZeros(std::int64_t value) noexcept
{
    std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    if (magnitude == 0)
        return 0;
    int zeros = 0;
    while (magnitude % 10 == 0) {
        magnitude /= 10;
        ++zeros;
    }
    return zeros;
}

double ScaledValue(std::int64_t option, int exponent) noexcept
{
    double x = static_cast<double>(option);
    for (int i = exponent; i < 0; ++i)
        x /= 10;
    for (int i = 0; i < exponent; ++i)
        x *= 10;
    return x;
}

// Fixed point with `decimals` places; the sign only for values clearly below zero, so that a value
// that rounds to nothing never reads "-0.00".
std::string FormatFixed(double x, int decimals)
{
    const double magnitude = std::fabs(x);
    const int size = std::snprintf(nullptr, 0, "%.*f", decimals, magnitude);
    if (size <= 0)
        return {};
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%.*f", decimals, magnitude);
    text.resize(static_cast<std::size_t>(size));
    if (x < -0.000001)
        text.insert(text.begin(), '-');
    return text;
}

// Reads `count` strings from the cursor on; false (and nothing stored) when one lies outside the buffer.
bool ReadStrings(ElementCursor& cursor, std::uint32_t count, std::vector<std::string_view>& out)
{
    std::vector<std::string_view> strings;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto text = cursor.String();
        if (!text)
            return false;
        strings.push_back(*text);
        cursor.Next();
    }
    out = std::move(strings);
    return true;
}

} // namespace

// ---- BasicBiosItem ----

template <class Char>
std::int32_t BasicBiosItem<Char>::GetOptionCount()
{
    return 0;
}

template <class Char>
bool BasicBiosItem<Char>::IsCategory8()
{
    return items::CategoryOf(m_id) == 8;
}

template <class Char>
std::int32_t BasicBiosItem<Char>::SetValueEx(std::uint32_t value, std::uint32_t flags)
{
    return static_cast<std::int32_t>(m_transport.AcpiSetItem(m_id, value, flags));
}

template <class Char>
bool BasicBiosItem<Char>::SetValue(std::uint32_t value)
{
    return (m_transport.AcpiSetItem(m_id, value, items::kFlagsDefault) & 1) != 0;
}

template <class Char>
bool BasicBiosItem<Char>::GetValue(std::uint32_t* out)
{
    return (m_transport.AcpiGetItem(m_id, out) & 1) != 0;
}

template <class Char>
void BasicBiosItem<Char>::IndexToRational(std::uint32_t, std::int32_t*, std::int32_t*)
{
    NotifyUnsupported("IndexToRational");
}

template <class Char>
double BasicBiosItem<Char>::IndexToValue(std::uint32_t)
{
    NotifyUnsupported("IndexToValue");
    return 0.0;
}

template <class Char>
typename BasicBiosItem<Char>::String BasicBiosItem<Char>::IndexToString(std::uint32_t)
{
    NotifyUnsupported("IndexToString");
    return {};
}

template <class Char>
bool BasicBiosItem<Char>::Parse(ElementCursor& cursor, std::int32_t& remaining)
{
    return SkipNameAndReserved(cursor, remaining);
}

template <class Char>
bool BasicBiosItem<Char>::Init(const std::uint8_t* description, std::uint32_t length)
{
    const std::size_t kept = std::min<std::size_t>(length, kFirmwareBufferBytes);
    try {
        m_description.assign(description, description + (description ? kept : 0));
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_descriptionLength = static_cast<std::int32_t>(m_description.size());

    const std::uint32_t count = ElementCount(m_description.data(), m_description.size());
    if (count < 3)
        return false;
    ElementCursor cursor = Cursor();
    const auto id = cursor.Value();
    if (!id)
        return false;
    m_id = *id;
    cursor.Next();
    std::int32_t remaining = static_cast<std::int32_t>(count - 1);
    return Parse(cursor, remaining);
}

template <class Char>
typename BasicBiosItem<Char>::String BasicBiosItem<Char>::GetName()
{
    ElementCursor cursor = Cursor();
    if (!cursor.Next())
        return {};
    const auto name = cursor.String();
    if (!name)
        return {};
    String converted = FromAnsi<Char>(*name);
    if (converted.size() > kMaxNameCharacters)
        converted.resize(kMaxNameCharacters);
    return converted;
}

template <class Char>
bool BasicBiosItem<Char>::SkipNameAndReserved(ElementCursor& cursor, std::int32_t& remaining)
{
    remaining = SubtractWrapping(remaining, 2);
    return cursor.Skip(2);
}

template <class Char>
std::uint32_t BasicBiosItem<Char>::DescribedValue() const
{
    ElementCursor cursor = Cursor();
    if (!cursor.Skip(3))
        return 0;
    return cursor.Value().value_or(0);
}

template <class Char>
void BasicBiosItem<Char>::NotifyUnsupported(const char* conversion) const
{
    char text[64];
    std::snprintf(text, sizeof text, "Item[%x] does not supports %s", static_cast<unsigned>(m_id), conversion);
    platform::Notifier().Notify(platform::AnsiToWide(text), L"BiosItem");
}

// ---- BasicBiosNumberItem ----

template <class Char>
bool BasicBiosNumberItem<Char>::Parse(ElementCursor& cursor, std::int32_t& remaining)
{
    if (!this->SkipNameAndReserved(cursor, remaining))
        return false;
    if (static_cast<std::uint32_t>(remaining) < 4)
        return false;
    cursor.Next(); // past the described value
    const auto base = cursor.Value();
    cursor.Next();
    const auto step = cursor.Value();
    cursor.Next();
    const auto options = cursor.Value();
    if (!base || !step || !options)
        return false;
    m_baseWord = *base;
    m_stepWord = *step;
    m_optionCount = static_cast<std::int32_t>(*options);
    cursor.Next();
    remaining = SubtractWrapping(remaining, 4);
    if (remaining == 0)
        return true;

    // The extra strings: a count, then that many strings.
    if (remaining < 2)
        return false;
    const auto count = cursor.Value();
    if (!count || *count == 0 || *count > static_cast<std::uint32_t>(remaining - 1))
        return false;
    cursor.Next();
    if (!ReadStrings(cursor, *count, m_extraStrings))
        return false;
    m_optionCount = static_cast<std::int32_t>(static_cast<std::uint32_t>(m_optionCount) + *count);
    return true;
}

template <class Char>
double BasicBiosNumberItem<Char>::IndexToValue(std::uint32_t index)
{
    if (index < ExtraStringCount())
        platform::Notifier().Notify(L"Can not convert extra string to value", L"IndexToValue Fail");
    const Scale scale = MakeScale(m_baseWord, m_stepWord);
    const auto numeric = static_cast<std::int32_t>(index - ExtraStringCount());
    return ScaledValue(scale.Option(numeric), scale.exponent + ValueExponentAdjustment(items::KindOf(this->m_id)));
}

template <class Char>
void BasicBiosNumberItem<Char>::IndexToRational(std::uint32_t index, std::int32_t* numerator,
                                                std::int32_t* denominator)
{
    if (index < ExtraStringCount())
        platform::Notifier().Notify(L"Can not convert extra string to value", L"IndexToRational Fail");
    const Scale scale = MakeScale(m_baseWord, m_stepWord);
    const int exponent = scale.exponent + ValueExponentAdjustment(items::KindOf(this->m_id));
    std::int64_t num = scale.Option(static_cast<std::int32_t>(index - ExtraStringCount()));
    std::int64_t den = 1;
    if (exponent < 0)
        den = PowerOfTen(-exponent);
    else if (exponent > 0)
        num = MultiplyWrapping(num, PowerOfTen(exponent));
    if (numerator)
        *numerator = static_cast<std::int32_t>(static_cast<std::uint32_t>(num));
    if (denominator)
        *denominator = static_cast<std::int32_t>(static_cast<std::uint32_t>(den));
}

template <class Char>
typename BasicBiosNumberItem<Char>::String BasicBiosNumberItem<Char>::IndexToString(std::uint32_t index)
{
    if (index < ExtraStringCount())
        return FromAnsi<Char>(m_extraStrings[index]);
    const std::uint32_t kind = items::KindOf(this->m_id);
    const Scale scale = MakeScale(m_baseWord, m_stepWord);
    const double x = ScaledValue(scale.Option(static_cast<std::int32_t>(index - ExtraStringCount())),
                                 scale.exponent + ValueExponentAdjustment(kind));

    // As many decimals as the unit shows, less the decimal zeros that base and step share.
    const int wanted = -scale.exponent + DisplayDecimalsAdjustment(kind);
    const int stepZeros = TrailingDecimalZeros(scale.step);
    const int baseZeros = TrailingDecimalZeros(scale.base);
    const int shared = stepZeros < baseZeros ? stepZeros : baseZeros;
    const int decimals = shared >= wanted ? 0 : std::min(wanted - shared, kMaxDecimals);
    return FromAscii<Char>(FormatFixed(x, decimals));
}

// ---- BasicBiosStringItem ----

template <class Char>
bool BasicBiosStringItem<Char>::Parse(ElementCursor& cursor, std::int32_t& remaining)
{
    if (!this->SkipNameAndReserved(cursor, remaining))
        return false;
    if (remaining <= 2)
        return false;
    cursor.Next(); // past the described value
    const auto count = cursor.Value();
    cursor.Next();
    remaining = SubtractWrapping(remaining, 2);
    if (!count || *count == 0 || static_cast<std::uint32_t>(remaining) < *count)
        return false;
    if (!ReadStrings(cursor, *count, m_strings))
        return false;
    m_optionCount = *count;
    return true;
}

template <class Char>
typename BasicBiosStringItem<Char>::String BasicBiosStringItem<Char>::IndexToString(std::uint32_t index)
{
    if (index >= m_strings.size())
        return {};
    return FromAnsi<Char>(m_strings[index]);
}

// ---- BasicBiosBooleanItem ----

template <class Char>
bool BasicBiosBooleanItem<Char>::Parse(ElementCursor& cursor, std::int32_t& remaining)
{
    const bool onlyIdAndName = remaining == 2;
    if (!this->SkipNameAndReserved(cursor, remaining))
        return false;
    return !onlyIdAndName;
}

template class BasicBiosItem<wchar_t>;
template class BasicBiosNumberItem<wchar_t>;
template class BasicBiosStringItem<wchar_t>;
template class BasicBiosBooleanItem<wchar_t>;
template class BasicBiosCompositedItem<wchar_t>;
template class BasicBiosItem<char>;
template class BasicBiosNumberItem<char>;
template class BasicBiosStringItem<char>;
template class BasicBiosBooleanItem<char>;
template class BasicBiosCompositedItem<char>;

} // namespace ovled
