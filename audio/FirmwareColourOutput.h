// The firmware side of the music colour: FirmwareColourOutput writes the colour of a tick to the onboard
// zone (through LedColorWriter's EC colour registers, or the onboard colour item) and to each enabled
// strip (select, then colour item, in the strip's byte order). A device is written only when its colour
// changed since its last successful write, or when that write is a second old (so a colour that someone
// else painted over comes back). It reaches the board only through IMusicFirmware, which the hardware
// layer implements over the firmware item registry and the EC port and which must outlive the output.
// Called on the colour thread.
#pragma once

#include "audio/ColourOutput.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace ovled {

// Firmware items of the music colour.
inline constexpr std::uint32_t kOnboardEcColourItem = 0x13060040; // present: onboard colour goes to the EC
inline constexpr std::uint32_t kOnboardColourItem = 0x13060043;
inline constexpr std::uint32_t kStripSelectItem = 0x13060046; // value bits 8-15: strip count
inline constexpr std::uint32_t kStripColourItem = 0x13060049;
inline constexpr std::uint32_t kOnboardItemFlags = 1;
inline constexpr std::uint32_t kStripItemFlags = 3;

// EC bank 0 colour registers of the onboard zone.
inline constexpr std::uint8_t kColourRegisterBank = 0;
inline constexpr std::uint8_t kRedRegister = 0x70;
inline constexpr std::uint8_t kBlueRegister = 0x71;
inline constexpr std::uint8_t kGreenRegister = 0x72;

// What the music colour needs from the board. Every item is looked up afresh on every call.
class IMusicFirmware {
public:
    virtual ~IMusicFirmware() = default;
    virtual bool ItemExists(std::uint32_t id) = 0;
    // True when the firmware took the value.
    virtual bool WriteItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) = 0;
    virtual void WriteEcRegister(std::uint8_t bank, std::uint8_t address, std::uint8_t value) = 0;
    // The process-wide lock of strip selection: held from a strip's select to its colour write, so a
    // colour never lands on a strip that another thread selected in between.
    virtual std::mutex& StripSelectionMutex() = 0;
};

// The onboard zone's EC colour registers.
class LedColorWriter {
public:
    explicit LedColorWriter(IMusicFirmware& firmware) noexcept : m_firmware(firmware) {}
    void WriteRed(std::uint8_t value) { m_firmware.WriteEcRegister(kColourRegisterBank, kRedRegister, value); }
    void WriteBlue(std::uint8_t value) { m_firmware.WriteEcRegister(kColourRegisterBank, kBlueRegister, value); }
    void WriteGreen(std::uint8_t value) { m_firmware.WriteEcRegister(kColourRegisterBank, kGreenRegister, value); }

private:
    IMusicFirmware& m_firmware;
};

// The colour word of strip `index`: strip 0 is wired blue, red, green (high byte to low), every other
// strip red, green, blue.
std::uint32_t StripColourWord(int index, Rgb colour) noexcept;
// The onboard colour item's word: blue, green, red in the upper three bytes.
std::uint32_t OnboardColourWord(Rgb colour) noexcept;

// A device's colour is written again after this many ticks without a write (one second at 10 ms).
inline constexpr std::uint32_t kColourRefreshTicks = 100;

class FirmwareColourOutput final : public IColourOutput {
public:
    explicit FirmwareColourOutput(IMusicFirmware& firmware) noexcept : m_firmware(firmware), m_colorWriter(firmware) {}
    void Write(const EnabledDevices& devices, Rgb colour) noexcept override;
    void Restart() noexcept override;

private:
    // What a device was last given successfully, and at which tick.
    struct Shown {
        int device = 0;
        Rgb colour;
        std::uint64_t tick = 0;
    };

    bool NeedsWrite(int device, Rgb colour) const noexcept;
    void Remember(int device, Rgb colour, bool written);
    bool WriteOnboard(Rgb colour);
    // Selects the strip and writes its colour word; false when either is refused (a strip the board does
    // not have refuses its select, and its colour is then not written at all).
    bool WriteStrip(int index, Rgb colour);

    IMusicFirmware& m_firmware;
    LedColorWriter m_colorWriter;
    std::vector<Shown> m_shown; // sorted by device
    std::uint64_t m_tick = 0;
};

} // namespace ovled
