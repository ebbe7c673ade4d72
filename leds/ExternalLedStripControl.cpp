#include "leds/ExternalLedStripControl.h"

#include "hardware/ItemIds.h"

#include <mutex>

namespace ovled {
namespace {

constexpr unsigned kEffectColourBit = 8;
constexpr unsigned kDirectColourBit = 0;
constexpr std::size_t kSequencePositions = 3;

// The byte of a colour argument that a colour-sequence entry names.
std::uint32_t ChannelByte(int channel, std::uint32_t colour) noexcept
{
    switch (channel) {
    case 0:
        return colour & 0xFF; // red
    case 1:
        return (colour >> 16) & 0xFF; // blue
    case 2:
        return (colour >> 8) & 0xFF; // green
    default:
        return 0; // a position that feeds no channel stays dark
    }
}

// The strip effect value's colour: byte 1 red, byte 3 green, byte 2 blue.
std::uint32_t EffectColour(std::uint32_t value) noexcept
{
    return ((value >> 8) & 0xFF) | ((value >> 24) & 0xFF) << 8 | ((value >> 16) & 0xFF) << 16;
}

bool Accepted(std::int32_t result) noexcept
{
    return result != 0;
}

} // namespace

std::uint32_t PackColourSequence(const std::vector<int>& sequence, std::uint32_t colour, unsigned firstBit) noexcept
{
    std::uint32_t packed = 0;
    for (std::size_t i = 0; i < sequence.size() && i < kSequencePositions; ++i)
        packed |= ChannelByte(sequence[i], colour) << (firstBit + 8 * i);
    return packed;
}

std::uint32_t MusicStripWord(int index, Rgb colour) noexcept
{
    if (index == 0)
        return static_cast<std::uint32_t>(colour.blue) << 16 | static_cast<std::uint32_t>(colour.red) << 8 |
               colour.green;
    return static_cast<std::uint32_t>(colour.red) << 16 | static_cast<std::uint32_t>(colour.green) << 8 | colour.blue;
}

std::int32_t GetExternalStripCount(BiosItemRegistry& registry)
{
    if (!registry.Exists(items::kStripSelector))
        return 0;
    return static_cast<std::int32_t>((registry.Read(items::kStripSelector).value_or(0) >> 8) & 0xFF);
}

ExternalLedStripControl::ExternalLedStripControl(std::int32_t index, Board& board, LedConfigFile& config)
    : LedControl(board, config), m_index(index)
{
}

bool ExternalLedStripControl::SelectLocked()
{
    return Accepted(Items().Write(items::kStripSelector, static_cast<std::uint32_t>(m_index), items::kFlagsHost));
}

template <class Writes, class Result>
Result ExternalLedStripControl::OnSelectedStrip(Writes&& writes, Result refused)
{
    std::lock_guard lock(m_board.StripSelection());
    if (!SelectLocked())
        return refused;
    return writes();
}

bool ExternalLedStripControl::SelectStrip()
{
    std::lock_guard lock(m_board.StripSelection());
    return SelectLocked();
}

bool ExternalLedStripControl::WriteStripEffect(std::uint32_t value)
{
    return OnSelectedStrip(
        [this, value] {
            (void)Items().Write(items::kStripHostControl, 0, items::kFlagsDefault);
            return Accepted(Items().Write(items::kStripEffect, value, items::kFlagsDefault));
        },
        false);
}

bool ExternalLedStripControl::HasSwitchItem()
{
    (void)SelectStrip();
    return Items().Exists(items::kStripSelector);
}

bool ExternalLedStripControl::IsOn()
{
    return m_config.IsLedEnabled(m_index);
}

void ExternalLedStripControl::SetOn(bool on)
{
    m_config.SetLedEnabled(m_index, on);
    // Off: effect 1 with every channel at 0. The stored effect stays in the file for the next "on".
    (void)WriteStripEffect(on ? static_cast<std::uint32_t>(m_config.GetLedMode(m_index)) : 1);
}

bool ExternalLedStripControl::SetEffect1(std::uint32_t colour)
{
    (void)SelectStrip();
    return ExternalLedStripControl::SetEffect(1, colour);
}

bool ExternalLedStripControl::SetEffect2(std::uint32_t colour)
{
    (void)SelectStrip();
    return ExternalLedStripControl::SetEffect(2, colour);
}

bool ExternalLedStripControl::SetEffect3(std::uint32_t colour)
{
    (void)SelectStrip();
    return ExternalLedStripControl::SetEffect(3, colour);
}

bool ExternalLedStripControl::SetEffect4()
{
    (void)SelectStrip();
    return ExternalLedStripControl::SetEffect(4, 0);
}

std::optional<std::uint32_t> ExternalLedStripControl::ReadEffectItem()
{
    return OnSelectedStrip([this] { return Items().Read(items::kStripEffect); }, std::optional<std::uint32_t>());
}

std::int32_t ExternalLedStripControl::GetEffectCode()
{
    const auto value = ReadEffectItem();
    if (!value)
        return 0;
    // A strip whose effect was never set reads 0: the firmware runs effect 1 then.
    return *value == 0 ? 1 : ValidEffectCode(*value & 0xFF);
}

std::uint32_t ExternalLedStripControl::GetEffectColor()
{
    return EffectColour(ReadEffectItem().value_or(0));
}

bool ExternalLedStripControl::EnterMusicMode()
{
    return OnSelectedStrip([this] { return Accepted(Items().Write(items::kStripHostControl, 1, items::kFlagsHost)); },
                           false);
}

bool ExternalLedStripControl::EnterThermalMode()
{
    return ExternalLedStripControl::EnterMusicMode();
}

bool ExternalLedStripControl::LeaveHostControl()
{
    return OnSelectedStrip([this] { return Accepted(Items().Write(items::kStripHostControl, 0, items::kFlagsHost)); },
                           false);
}

bool ExternalLedStripControl::ShowColour(Rgb colour, ColourSource source)
{
    // The colour sequence is read before the lock: the file never holds up other strip operations.
    const std::uint32_t value =
        source == ColourSource::Music
            ? MusicStripWord(m_index, colour)
            : PackColourSequence(m_config.ReadColorSequence(m_index), ColourArgument(colour), kDirectColourBit);
    return OnSelectedStrip(
        [this, value] { return Accepted(Items().Write(items::kStripColor, value, items::kFlagsHost)); }, false);
}

bool ExternalLedStripControl::SetEffect(std::int32_t code, std::uint32_t colour)
{
    const std::uint32_t value = static_cast<std::uint32_t>(code) |
                                PackColourSequence(m_config.ReadColorSequence(m_index), colour,
                                                   kEffectColourBit);
    // The file first: it remembers the effect even when the firmware refuses it.
    m_config.SetLedMode(m_index, static_cast<std::int32_t>(value));
    return WriteStripEffect(value);
}

bool ExternalLedStripControl::GetEffect(std::int32_t* code, std::uint32_t* colour)
{
    const auto value = OnSelectedStrip(
        [this] {
            (void)Items().Write(items::kStripHostControl, 0, items::kFlagsDefault);
            return Items().Read(items::kStripEffect);
        },
        std::optional<std::uint32_t>());
    if (!value)
        return false;
    if (code)
        *code = static_cast<std::int32_t>(*value & 0xFF);
    if (colour)
        *colour = EffectColour(*value);
    return true;
}

} // namespace ovled
