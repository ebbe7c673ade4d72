// The firmware side of the music colour: FirmwareColourOutput writes the colour of a tick to the onboard
// zone (through LedColorWriter's EC colour registers, or the onboard colour item) and to each enabled
// strip (select, then colour item, in the strip's byte order). It reaches the board only through
// IMusicFirmware, which the hardware layer implements over the firmware item registry and the EC port and
// which must outlive the output. Called on the colour thread.
#pragma once

#include "audio/ColourOutput.h"

#include <cstdint>
#include <mutex>
#include <optional>

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
    // The item's value; empty when the item is missing or cannot be read.
    virtual std::optional<std::uint32_t> ReadItem(std::uint32_t id) = 0;
    virtual void WriteItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) = 0;
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

class FirmwareColourOutput final : public IColourOutput {
public:
    explicit FirmwareColourOutput(IMusicFirmware& firmware) noexcept : m_firmware(firmware), m_colorWriter(firmware) {}
    void Write(const EnabledDevices& devices, Rgb colour) noexcept override;

private:
    void WriteOnboard(Rgb colour);
    void WriteStrips(const EnabledDevices& devices, Rgb colour);

    IMusicFirmware& m_firmware;
    LedColorWriter m_colorWriter;
};

} // namespace ovled
