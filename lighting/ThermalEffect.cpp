#include "lighting/ThermalEffect.h"

#include "platform/Com.h"

#include <system_error>

namespace ovled {

ThermalThread::ThermalThread(platform::IWaitClock& clock, std::chrono::milliseconds period,
                             std::function<void()> cycle)
    : m_clock(clock), m_period(period), m_cycle(std::move(cycle))
{
}

ThermalThread::~ThermalThread()
{
    RequestStop();
    if (m_thread.joinable())
        m_thread.join();
}

void ThermalThread::Start()
{
    if (m_running)
        return;
    // The previous thread has been told to stop; it ends at its next wait, or after the cycle it is in.
    if (m_thread.joinable())
        m_thread.join();
    m_stop.Reset();
    try {
        m_thread = std::thread([this] { Run(); });
        m_running = true;
    } catch (const std::system_error&) {
        // No thread could be made: stay stopped; the next ApplyModes tries again.
    }
}

void ThermalThread::RequestStop()
{
    m_stop.Set();
    m_running = false;
}

void ThermalThread::Run() noexcept
{
    try {
        platform::InitializeComForThread();
        // The wait comes first: the first update is one period after the start.
        while (!m_clock.WaitFor(m_stop, m_period)) {
            try {
                m_cycle();
            } catch (...) {
                // A failed cycle is skipped; the next one comes a period later.
            }
        }
    } catch (...) {
        // Nothing may leave a thread procedure.
    }
}

float ThermalHue(int celsius) noexcept
{
    const int clamped = celsius < 20 ? 20 : (celsius > 60 ? 60 : celsius);
    return static_cast<float>(0.333 - (clamped - 20.0) * 0.333 / 40.0);
}

} // namespace ovled
