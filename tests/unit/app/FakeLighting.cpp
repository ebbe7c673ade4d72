#include "FakeLighting.h"

#include <algorithm>
#include <utility>

namespace ovled::app::test {
namespace {

constexpr HResult kBadIndex = static_cast<HResult>(0x8002000Bu); // DISP_E_BADINDEX
constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057u);

} // namespace

void FakeBoard::SetGate(bool open)
{
    {
        std::lock_guard lock(mutex);
        gateOpen = open;
    }
    changed.notify_all();
}

void FakeBoard::WaitUntilEntered(int count)
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return entered >= count; });
}

HResult FakeService::Enter(const wchar_t* call, int device)
{
    std::unique_lock lock(m_board.mutex);
    ++m_board.entered;
    m_board.changed.notify_all();
    m_board.changed.wait(lock, [&] { return m_board.gateOpen; });
    m_board.calls.emplace_back(call);
    if (m_board.failNext != kSOk)
        return std::exchange(m_board.failNext, kSOk);
    if (std::find(m_board.failCalls.begin(), m_board.failCalls.end(), call) != m_board.failCalls.end())
        return m_board.failWith;
    if (device < kOnboardDevice || device >= static_cast<int>(m_board.modes.size()) - 1)
        return kBadIndex;
    return kSOk;
}

template <class Apply>
HResult FakeService::Change(const wchar_t* call, Apply apply)
{
    const HResult hr = Enter(call);
    if (Succeeded(hr)) {
        apply();
        ++m_board.changeCount;
    }
    return hr;
}

HResult FakeService::DeviceCount(std::int32_t& count)
{
    const HResult hr = Enter(L"DeviceCount");
    count = static_cast<std::int32_t>(m_board.modes.size());
    return hr;
}

HResult FakeService::DeviceKind(int device, std::int32_t& kind)
{
    const HResult hr = Enter(L"DeviceKind", device);
    kind = device == kOnboardDevice ? 0 : 1;
    return hr;
}

HResult FakeService::DeviceName(int device, std::wstring& name)
{
    const HResult hr = Enter(L"DeviceName", device);
    name = device == kOnboardDevice ? L"Onboard zone" : L"Strip " + std::to_wstring(device);
    return hr;
}

HResult FakeService::DeviceMode(int device, std::int32_t& mode)
{
    const HResult hr = Enter(L"DeviceMode", device);
    if (Succeeded(hr))
        mode = m_board.modes[static_cast<std::size_t>(device + 1)];
    return hr;
}

HResult FakeService::DeviceOn(int device, bool& on)
{
    const HResult hr = Enter(L"DeviceOn", device);
    on = device == kOnboardDevice ? m_board.onboardOn : m_board.stripsOn;
    return hr;
}

HResult FakeService::DeviceColour(int device, std::int32_t& colour)
{
    const HResult hr = Enter(L"DeviceColour", device);
    if (Succeeded(hr))
        colour = m_board.colours[static_cast<std::size_t>(device + 1)];
    return hr;
}

HResult FakeService::Brightness(std::int32_t& percent)
{
    percent = m_board.brightness;
    return Enter(L"Brightness");
}

HResult FakeService::SetBrightness(std::int32_t percent)
{
    if (percent < 0 || percent > 100)
        return kInvalidArg;
    return Change(L"SetBrightness", [&] { m_board.brightness = percent; });
}

HResult FakeService::Rule(OffRule rule, bool& on)
{
    on = m_board.rules[rule];
    return Enter(L"Rule");
}

HResult FakeService::SetRule(OffRule rule, bool on)
{
    return Change(L"SetRule", [&] { m_board.rules[rule] = on; });
}

HResult FakeService::NightTime(bool end, std::wstring& time)
{
    time = end ? m_board.nightEnd : m_board.nightStart;
    return Enter(L"NightTime");
}

HResult FakeService::SetNightTime(bool end, const std::wstring& time)
{
    return Change(L"SetNightTime", [&] { (end ? m_board.nightEnd : m_board.nightStart) = time; });
}

HResult FakeService::LightsOff(std::int32_t minutes)
{
    return Change(L"LightsOff", [&] { m_board.lightsOffMinutes = minutes; });
}

HResult FakeService::LightsOn()
{
    return Change(L"LightsOn", [&] { m_board.lightsOffMinutes = -1; });
}

HResult FakeService::LightsAreOn(bool& on)
{
    on = m_board.lightsOffMinutes < 0;
    return Enter(L"LightsAreOn");
}

HResult FakeService::OffReasons(std::int32_t& rules)
{
    rules = m_board.lightsOffMinutes < 0 ? 0 : kOffReasonLightsOff;
    return Enter(L"OffReasons");
}

HResult FakeService::ChangeCount(std::int32_t& count)
{
    count = m_board.changeCount;
    return Enter(L"ChangeCount");
}

HResult FakeService::SetModeByIndex(int index, int mode)
{
    const HResult hr = Enter(L"SetModeByIndex", index < kOnboardDevice ? kOnboardDevice : index);
    if (!Succeeded(hr))
        return hr;
    if (index == kOnboardOffCommand)
        m_board.onboardOn = false;
    else if (index == kStripsOffCommand)
        m_board.stripsOn = false;
    else {
        m_board.modes[static_cast<std::size_t>(index + 1)] = mode;
        (index == kOnboardDevice ? m_board.onboardOn : m_board.stripsOn) = true;
    }
    ++m_board.changeCount;
    return hr;
}

HResult FakeConnector::Connect(std::unique_ptr<ILightingService>& service) noexcept
{
    ++connects;
    if (Succeeded(connectResult))
        service = std::make_unique<FakeService>(m_board);
    return connectResult;
}

} // namespace ovled::app::test
