#include "lighting/ThermalEffect.h"

namespace ovled {

ThermalThread::ThermalThread(platform::IWaitClock& clock, std::chrono::milliseconds period, std::function<void()> cycle,
                             platform::IThreadSessions& sessions)
    : m_worker(clock, period, [cycle = std::move(cycle)] { return cycle; }, sessions)
{
}

float ThermalHue(int celsius) noexcept
{
    const int clamped = celsius < 20 ? 20 : (celsius > 60 ? 60 : celsius);
    return static_cast<float>(0.333 - (clamped - 20.0) * 0.333 / 40.0);
}

Rgb ThermalColour(int celsius) noexcept
{
    return HslToRgb(ThermalHue(celsius), kThermalSaturation, kThermalLightness);
}

} // namespace ovled
