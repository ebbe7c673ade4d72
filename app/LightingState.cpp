#include "app/LightingState.h"

namespace ovled::app {
namespace {

// A failed read leaves `state` as it was: the window keeps showing what it knew.
HResult ReadDevices(ILightingService& service, std::vector<DeviceState>& devices)
{
    std::int32_t count = 0;
    if (HResult hr = service.DeviceCount(count); !Succeeded(hr))
        return hr;
    std::vector<DeviceState> read(count > 0 ? static_cast<std::size_t>(count) : 0u);
    int index = kOnboardDevice;
    for (DeviceState& device : read) {
        device.index = index++;
        HResult hr = service.DeviceKind(device.index, device.kind);
        if (Succeeded(hr))
            hr = service.DeviceName(device.index, device.name);
        if (Succeeded(hr))
            hr = service.DeviceMode(device.index, device.mode);
        if (Succeeded(hr))
            hr = service.DeviceOn(device.index, device.on);
        if (Succeeded(hr))
            hr = service.DeviceColour(device.index, device.colour);
        if (!Succeeded(hr))
            return hr;
    }
    devices = std::move(read);
    return kSOk;
}

} // namespace

HResult ReadLightingState(ILightingService& service, std::int32_t changeCount, LightingState& state)
{
    LightingState read;
    read.changeCount = changeCount;
    HResult hr = ReadDevices(service, read.devices);
    if (Succeeded(hr))
        hr = service.Brightness(read.brightness);
    if (Succeeded(hr))
        hr = service.Rule(OffRule::Locked, read.offWhenLocked);
    if (Succeeded(hr))
        hr = service.Rule(OffRule::DisplayOff, read.offWhenDisplayOff);
    if (Succeeded(hr))
        hr = service.Rule(OffRule::Night, read.offAtNight);
    if (Succeeded(hr))
        hr = service.NightTime(false, read.nightStart);
    if (Succeeded(hr))
        hr = service.NightTime(true, read.nightEnd);
    if (Succeeded(hr))
        hr = service.LightsAreOn(read.lightsOn);
    if (Succeeded(hr))
        hr = service.OffReasons(read.offReasons);
    if (Succeeded(hr))
        state = std::move(read);
    return hr;
}

HResult ReadColours(ILightingService& service, LightingState& state)
{
    for (DeviceState& device : state.devices) {
        if (HResult hr = service.DeviceColour(device.index, device.colour); !Succeeded(hr))
            return hr;
    }
    return kSOk;
}

bool Command::ReplacedBy(const Command& later) const noexcept
{
    if (kind != later.kind)
        return false;
    switch (kind) {
    case Kind::SetBrightness:
        return true;
    case Kind::SetRule:
        return rule == later.rule;
    case Kind::SetNightTime:
        return value == later.value;
    case Kind::SetMode:
        return index == later.index;
    default:
        return false;
    }
}

HResult ApplyCommand(ILightingService& service, const Command& command)
{
    switch (command.kind) {
    case Command::Kind::SetMode:
        return service.SetModeByIndex(command.index, command.value);
    case Command::Kind::AllModes: {
        std::int32_t count = 0;
        HResult hr = service.DeviceCount(count);
        for (int device = kOnboardDevice; Succeeded(hr) && device < count - 1; ++device)
            hr = service.SetModeByIndex(device, command.value);
        return hr;
    }
    case Command::Kind::SetBrightness:
        return service.SetBrightness(command.value);
    case Command::Kind::SetRule:
        return service.SetRule(command.rule, command.value != 0);
    case Command::Kind::SetNightTime:
        return service.SetNightTime(command.value != 0, command.text);
    case Command::Kind::LightsOff:
        return service.LightsOff(command.value);
    case Command::Kind::LightsOn:
        return service.LightsOn();
    }
    return kEFail;
}

} // namespace ovled::app
