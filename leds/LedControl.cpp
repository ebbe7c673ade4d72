#include "leds/LedControl.h"

#include "hardware/ItemIds.h"
#include "lighting/ThermalEffect.h"
#include "platform/Com.h"

namespace ovled {
namespace {

constexpr std::uint32_t kColourMask = 0x00FFFFFF;

// The onboard effect value: the code in bits 0-7, red, green and blue above it.
std::uint32_t OnboardEffectValue(std::int32_t code, std::uint32_t colour) noexcept
{
    return static_cast<std::uint32_t>(code) | (colour & kColourMask) << 8;
}

bool Accepted(std::int32_t result) noexcept
{
    return result != 0;
}

} // namespace

LedControl::LedControl(Board& board, LedConfigFile& config) : m_board(board), m_config(config)
{
    platform::InitializeComForThread();
}

bool LedControl::HasSwitchItem()
{
    return Items().Exists(items::kOnboardSwitch);
}

bool LedControl::IsOn()
{
    if (LedControl::HasSwitchItem()) {
        const auto value = Items().Read(items::kOnboardSwitch);
        return value && *value == 1;
    }
    const auto value = Items().Read(items::kOnboardEffect);
    return value && *value != 0;
}

void LedControl::SetOn(bool on)
{
    const std::uint32_t item = LedControl::HasSwitchItem() ? items::kOnboardSwitch : items::kOnboardEffect;
    (void)Items().Write(item, on ? 1 : 0, items::kFlagsDefault);
    m_board.Clock().Sleep(kSwitchSettle);
}

bool LedControl::SetEffect1(std::uint32_t colour)
{
    return SetEffect(1, colour);
}

bool LedControl::SetEffect2(std::uint32_t colour)
{
    return SetEffect(2, colour);
}

bool LedControl::SetEffect3(std::uint32_t colour)
{
    return SetEffect(3, colour);
}

bool LedControl::SetEffect4()
{
    return SetEffect(4, 0);
}

std::int32_t LedControl::GetEffectCode()
{
    const auto stored = static_cast<std::uint32_t>(m_config.GetLedMode(kOnboardDevice));
    return ValidEffectCode(stored & 0xFF);
}

std::uint32_t LedControl::GetEffectColor()
{
    return static_cast<std::uint32_t>(m_config.GetLedMode(kOnboardDevice)) >> 8;
}

bool LedControl::EnterMusicMode()
{
    const std::uint32_t flags = LedControl::HasSwitchItem() ? items::kFlagsHost : items::kFlagsDefault;
    return Accepted(Items().Write(items::kOnboardHostControl, 1, flags));
}

bool LedControl::EnterThermalMode()
{
    return LedControl::EnterMusicMode();
}

bool LedControl::LeaveHostControl()
{
    return Accepted(Items().Write(items::kOnboardHostControl, 0, items::kFlagsHost));
}

void LedControl::ShowTemperature(int celsius)
{
    (void)ShowColour(ThermalColour(celsius), ColourSource::Thermal);
}

bool LedControl::ShowColour(Rgb colour, ColourSource source)
{
    if (LedControl::HasSwitchItem()) {
        EcPort& ec = m_board.Ec();
        if (source == ColourSource::Music) {
            ec.WriteRegister(ec::kColourBank, ec::kBlueRegister, colour.blue);
            ec.WriteRegister(ec::kColourBank, ec::kGreenRegister, colour.green);
            ec.WriteRegister(ec::kColourBank, ec::kRedRegister, colour.red);
        } else {
            ec.WriteRegister(ec::kColourBank, ec::kRedRegister, colour.red);
            ec.WriteRegister(ec::kColourBank, ec::kBlueRegister, colour.blue);
            ec.WriteRegister(ec::kColourBank, ec::kGreenRegister, colour.green);
        }
        return true; // register writes report nothing
    }
    return Accepted(Items().Write(items::kOnboardColor, ColourArgument(colour) << 8, items::kFlagsDefault));
}

std::uint32_t LedControl::ReadEcColor()
{
    EcPort& ec = m_board.Ec();
    const auto red = static_cast<std::uint32_t>(ec.ReadRegister(ec::kColourBank, ec::kRedRegister)) & 0xFF;
    const auto blue = static_cast<std::uint32_t>(ec.ReadRegister(ec::kColourBank, ec::kBlueRegister)) & 0xFF;
    const auto green = static_cast<std::uint32_t>(ec.ReadRegister(ec::kColourBank, ec::kGreenRegister)) & 0xFF;
    return red | green << 8 | blue << 16;
}

bool LedControl::HasAuxItem()
{
    return Items().Exists(items::kAuxLed);
}

std::int32_t LedControl::SetAuxOn(bool on)
{
    return Items().Write(items::kAuxLed, on ? 1 : 0, items::kFlagsDefault);
}

std::uint32_t LedControl::GetAux()
{
    return Items().Read(items::kAuxLed).value_or(0);
}

std::int32_t LedControl::SetAux(std::uint32_t value)
{
    return Items().Write(items::kAuxLed, value, items::kFlagsDefault);
}

bool LedControl::SetEffectDefault()
{
    (void)Items().Write(items::kOnboardHostControl, 0, items::kFlagsDefault);
    return Accepted(Items().Write(items::kOnboardEffect, 1, items::kFlagsDefault));
}

bool LedControl::SetEffect(std::int32_t code, std::uint32_t colour)
{
    const std::uint32_t value = OnboardEffectValue(code, colour);
    // The file first: it remembers the effect even when the firmware refuses it.
    m_config.SetLedMode(kOnboardDevice, static_cast<std::int32_t>(value));
    (void)Items().Write(items::kOnboardHostControl, 0, items::kFlagsDefault);
    return Accepted(Items().Write(items::kOnboardEffect, value, items::kFlagsDefault));
}

bool LedControl::GetEffect(std::int32_t* code, std::uint32_t* colour)
{
    (void)Items().Write(items::kOnboardHostControl, 0, items::kFlagsDefault);
    const auto value = Items().Read(items::kOnboardEffect);
    if (!value)
        return false;
    if (code)
        *code = static_cast<std::int32_t>(*value & 0xFF);
    if (colour)
        *colour = *value >> 8;
    return true;
}

std::int32_t LedControl::Reserved()
{
    return 0;
}

} // namespace ovled
