// ExternalLedStripControl: the LED controller of one external strip (0..n-1). The firmware drives all
// strips through shared items that act on the strip selected last, so every operation selects its
// strip first, and the select and the writes that follow it hold the board's strip-selection lock: no other
// strip operation or colour write can move the selection in between. Effect colours and thermal colours
// go out in the order of the strip's colour sequence from the LED configuration file; music colours in a
// fixed order of their own (strip 0 blue, red, green from the high byte; the others red, green, blue).
// Created and owned like LedControl; any thread.
#pragma once

#include "leds/LedControl.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace ovled {

class ExternalLedStripControl final : public LedControl {
public:
    ExternalLedStripControl(std::int32_t index, Board& board, LedConfigFile& config);

    std::int32_t Index() const noexcept { return m_index; }

    // Selects this strip on its own (under the strip-selection lock). True when the firmware took it.
    bool SelectStrip();
    // Selects this strip, clears its host control and writes its effect value. Nothing is written when
    // the selection fails (the strip items would act on another strip).
    bool WriteStripEffect(std::uint32_t value);

    // Selects the strip; whether the strip selector item exists.
    bool HasSwitchItem() override;
    // The strip's on flag in the LED configuration file; no firmware access.
    bool IsOn() override;
    // Stores the flag, then shows the stored effect (on) or effect 1 without colour (off).
    void SetOn(bool on) override;
    bool SetEffect1(std::uint32_t colour) override;
    bool SetEffect2(std::uint32_t colour) override;
    bool SetEffect3(std::uint32_t colour) override;
    bool SetEffect4() override;
    // From the firmware's effect item: a value of 0 counts as code 1. 0 when it cannot be read.
    std::int32_t GetEffectCode() override;
    // The effect item's bytes 1, 3, 2 as red, green, blue (a fixed order, whatever the colour sequence).
    // 0 when it cannot be read.
    std::uint32_t GetEffectColor() override;
    bool EnterMusicMode() override;
    bool EnterThermalMode() override;
    bool LeaveHostControl() override;
    // Selects the strip and writes the colour item in the source's byte order; false when the select or
    // the write is refused (nothing is written after a refused select).
    bool ShowColour(Rgb colour, ColourSource source) override;
    bool SetEffect(std::int32_t code, std::uint32_t colour) override;
    // Selects the strip first, like every other strip operation.
    bool GetEffect(std::int32_t* code, std::uint32_t* colour) override;

private:
    // Runs `writes` with the strip selected, under the strip-selection lock; `refused` when the
    // selection fails.
    template <class Writes, class Result>
    Result OnSelectedStrip(Writes&& writes, Result refused);
    bool SelectLocked();
    std::optional<std::uint32_t> ReadEffectItem();

    const std::int32_t m_index;
};

// Packs colour bytes by a colour sequence: sequence position i (at most three) takes the byte of the
// channel that entry i names (0 red, 1 blue, 2 green; an entry 3-9 names no channel and gives 0) at
// bits firstBit + 8i. Effect values start at bit 8 (below them sits the effect code), direct colours at 0.
std::uint32_t PackColourSequence(const std::vector<int>& sequence, std::uint32_t colour, unsigned firstBit) noexcept;

// The music colour word of strip `index`: strip 0 is wired blue, red, green (high byte to low), every other
// strip red, green, blue.
std::uint32_t MusicStripWord(int index, Rgb colour) noexcept;

// The number of external strips: bits 8-15 of the strip selector item; 0 when the item is missing or
// cannot be read.
std::int32_t GetExternalStripCount(BiosItemRegistry& registry);

} // namespace ovled
