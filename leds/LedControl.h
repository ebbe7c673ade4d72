// LedControl: the service's LED controller interface (22 operations, declared below in their slot
// order) and its implementation for the onboard LED zone (device -1). ExternalLedStripControl derives
// from it for one external strip. A controller holds no state of its own: the firmware items, the EC
// colour registers and the LED configuration file hold everything, so any number of controllers may
// exist for one device. A controller reaches the board through the Board and the LED configuration file
// it is given (both must outlive it). Created on the heap by the device factory for the lighting manager
// (kept for its life) and the power event window (one call, then deleted); any thread.
#pragma once

#include "hardware/Board.h"
#include "lighting/DeviceContract.h"
#include "lighting/HslToRgb.h"
#include "lighting/LedConfigFile.h"

#include <chrono>
#include <cstdint>

namespace ovled {

// The pause after switching the onboard zone, so that the firmware has taken the switch before the
// next access.
inline constexpr std::chrono::milliseconds kSwitchSettle{10};

class LedControl : public ILedDevice {
public:
    // The board's clock provides SetOn's pause (tests count it instead of waiting). Initialises COM on
    // the calling thread, which is about to reach the firmware.
    LedControl(Board& board, LedConfigFile& config);
    ~LedControl() override = default;
    LedControl(const LedControl&) = delete;
    LedControl& operator=(const LedControl&) = delete;

    // Slot 0. The onboard switch item (0x13060040) exists: the newer hardware generation, whose
    // switch is that item and whose direct colour goes to the EC colour registers.
    virtual bool HasSwitchItem();
    // Slot 1. False also when the switch cannot be read.
    bool IsOn() override;
    // Slot 2.
    virtual void SetOn(bool on);
    // Slots 3-6: the firmware's effects 1-4 (4 takes no colour). The colour argument has red in bits
    // 0-7, green 8-15, blue 16-23.
    bool SetEffect1(std::uint32_t colour) override;
    virtual bool SetEffect2(std::uint32_t colour);
    virtual bool SetEffect3(std::uint32_t colour);
    virtual bool SetEffect4();
    // Slot 7. The stored effect code, 1-4; 0 for anything else.
    virtual std::int32_t GetEffectCode();
    // Slot 8. The stored effect colour (the onboard zone: red, green, blue from low byte to high).
    virtual std::uint32_t GetEffectColor();
    // Slots 9 and 10: one operation, handing the colour to the service's writers.
    bool EnterMusicMode() override;
    bool EnterThermalMode() override;
    // Slot 11. The firmware's stored effect runs again.
    bool LeaveHostControl() override;
    // Slot 12. Shows the thermal colour of a temperature; the caller has entered thermal mode before.
    virtual void ShowTemperature(int celsius);
    // Slot 13. The EC colour registers as a colour argument.
    virtual std::uint32_t ReadEcColor();
    // Slots 14-17: the auxiliary LED item (0x13080045), passed through.
    virtual bool HasAuxItem();
    virtual std::int32_t SetAuxOn(bool on);
    // 0 when the item cannot be read.
    virtual std::uint32_t GetAux();
    virtual std::int32_t SetAux(std::uint32_t value);
    // Slot 18. The onboard zone's default effect (also on a strip controller).
    virtual bool SetEffectDefault();
    // Slot 19. Stores the effect value in the LED configuration file, then writes it to the firmware.
    virtual bool SetEffect(std::int32_t code, std::uint32_t colour);
    // Slot 20. Leaves host control and reads the effect back from the firmware; false (outputs
    // untouched) when it cannot be read.
    virtual bool GetEffect(std::int32_t* code, std::uint32_t* colour);
    // Slot 21. Kept for the interface's layout; always 0.
    virtual std::int32_t Reserved();

    // Not a slot: the lighting's way in for every colour source. The onboard zone's colour goes to the
    // EC colour registers when the switch item exists (music writes blue, green, red; thermal red, blue,
    // green), else to its colour item.
    bool ShowColour(Rgb colour, ColourSource source) override;

protected:
    BiosItemRegistry& Items() noexcept { return m_board.Registry(); }

    Board& m_board;
    LedConfigFile& m_config;
};

// An effect code between 1 and 4 as it is; 0 for anything else.
constexpr std::int32_t ValidEffectCode(std::uint32_t code) noexcept
{
    return code >= 1 && code <= 4 ? static_cast<std::int32_t>(code) : 0;
}

} // namespace ovled
