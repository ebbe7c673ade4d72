// The firmware item model: one object per firmware item, built from the item's description (element
// format) by the registry's enumerator. It reads and writes the item's live value through the firmware
// transport and turns option indices into values, fractions and display strings.
// Items are immutable after Init and owned by the registry (or by whoever created them through an
// enumerator); any thread may call them. Messages go through platform::Notifier(), which never blocks.
#pragma once

#include "hardware/ElementFormat.h"
#include "hardware/FirmwareTransport.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ovled {

template <class Char>
class BasicBiosItem {
public:
    using String = std::basic_string<Char>;

    // Live-value operations go to `transport` (the registry's, for items it owns).
    explicit BasicBiosItem(IFirmwareTransport& transport) noexcept : m_transport(transport)
    {
    }
    BasicBiosItem(const BasicBiosItem&) = delete;
    BasicBiosItem& operator=(const BasicBiosItem&) = delete;

    // The eleven slots, in this order in every class.
    virtual ~BasicBiosItem() = default;
    virtual std::int32_t GetOptionCount();
    virtual std::uint32_t GetStoredValue() = 0;
    virtual bool IsCategory8();
    virtual std::int32_t SetValueEx(std::uint32_t value, std::uint32_t flags);
    virtual bool SetValue(std::uint32_t value);
    virtual bool GetValue(std::uint32_t* out);
    virtual void IndexToRational(std::uint32_t index, std::int32_t* numerator, std::int32_t* denominator);
    virtual double IndexToValue(std::uint32_t index);
    virtual String IndexToString(std::uint32_t index);
    // Reads the kind-specific elements; the cursor stands on element 2 and `remaining` counts the
    // elements from there on.
    virtual bool Parse(ElementCursor& cursor, std::int32_t& remaining);

    // Copies the description (at most kFirmwareBufferBytes of it) and parses it. False for a malformed
    // description; the object is usable all the same (id 0 when not even the id could be read).
    bool Init(const std::uint8_t* description, std::uint32_t length);
    // Element 2, converted from the ANSI code page.
    String GetName();
    std::uint32_t GetId() const noexcept { return m_id; }

protected:
    // Moves past elements 2 and 3, as every Parse does first.
    static bool SkipNameAndReserved(ElementCursor& cursor, std::int32_t& remaining);
    // Element 4: the value the description was made with.
    std::uint32_t DescribedValue() const;
    // The message for a conversion this class does not offer.
    void NotifyUnsupported(const char* conversion) const;
    ElementCursor Cursor() const noexcept { return ElementCursor(m_description.data(), m_description.size()); }

    std::vector<std::uint8_t> m_description;
    std::int32_t m_descriptionLength = 0;
    std::uint32_t m_id = 0;
    IFirmwareTransport& m_transport;
};

template <class Char>
class BasicBiosNumberItem : public BasicBiosItem<Char> {
public:
    using typename BasicBiosItem<Char>::String;
    using BasicBiosItem<Char>::BasicBiosItem;

    std::int32_t GetOptionCount() override { return m_optionCount; }
    std::uint32_t GetStoredValue() override { return this->DescribedValue(); }
    void IndexToRational(std::uint32_t index, std::int32_t* numerator, std::int32_t* denominator) override;
    double IndexToValue(std::uint32_t index) override;
    String IndexToString(std::uint32_t index) override;
    bool Parse(ElementCursor& cursor, std::int32_t& remaining) override;

protected:
    // Options below the number of extra strings name those strings.
    std::uint32_t ExtraStringCount() const noexcept { return static_cast<std::uint32_t>(m_extraStrings.size()); }

    std::vector<std::string_view> m_extraStrings; // into the description copy
    std::int32_t m_optionCount = 0;
    std::uint32_t m_stepWord = 0; // bits 0-23 step, 24-31 shift byte
    std::uint32_t m_baseWord = 0; // bits 0-23 base, 24-31 signed exponent byte
};

template <class Char>
class BasicBiosStringItem : public BasicBiosItem<Char> {
public:
    using typename BasicBiosItem<Char>::String;
    using BasicBiosItem<Char>::BasicBiosItem;

    std::int32_t GetOptionCount() override { return static_cast<std::int32_t>(m_optionCount); }
    std::uint32_t GetStoredValue() override { return this->DescribedValue(); }
    // The option's string; an empty string for an index outside the list.
    String IndexToString(std::uint32_t index) override;
    bool Parse(ElementCursor& cursor, std::int32_t& remaining) override;

private:
    std::uint32_t m_optionCount = 0;
    std::vector<std::string_view> m_strings; // into the description copy
};

template <class Char>
class BasicBiosBooleanItem : public BasicBiosItem<Char> {
public:
    using BasicBiosItem<Char>::BasicBiosItem;

    std::uint32_t GetStoredValue() override { return this->DescribedValue(); }
    bool Parse(ElementCursor& cursor, std::int32_t& remaining) override;
};

// A number item whose live value cannot be read or written through the item operations.
template <class Char>
class BasicBiosCompositedItem : public BasicBiosNumberItem<Char> {
public:
    using BasicBiosNumberItem<Char>::BasicBiosNumberItem;

    std::int32_t SetValueEx(std::uint32_t, std::uint32_t) override { return -1; }
    bool SetValue(std::uint32_t) override { return false; }
    bool GetValue(std::uint32_t*) override { return false; }
};

using BiosItem = BasicBiosItem<wchar_t>;
using BiosNumberItem = BasicBiosNumberItem<wchar_t>;
using BiosStringItem = BasicBiosStringItem<wchar_t>;
using BiosBooleanItem = BasicBiosBooleanItem<wchar_t>;
using BiosCompositedItem = BasicBiosCompositedItem<wchar_t>;

extern template class BasicBiosItem<wchar_t>;
extern template class BasicBiosNumberItem<wchar_t>;
extern template class BasicBiosStringItem<wchar_t>;
extern template class BasicBiosBooleanItem<wchar_t>;
extern template class BasicBiosCompositedItem<wchar_t>;
extern template class BasicBiosItem<char>;
extern template class BasicBiosNumberItem<char>;
extern template class BasicBiosStringItem<char>;
extern template class BasicBiosBooleanItem<char>;
extern template class BasicBiosCompositedItem<char>;

} // namespace ovled
