// ThermalThread: the life of the thermal mode's worker thread. It waits on its stop event for one
// period (3000 ms in the service), runs one update cycle, and waits again; a signalled stop event ends
// it. At most one thread runs per object: a start after a stop first waits for the old thread to end.
// Owned by the lighting manager, which calls Start/RequestStop under its own lock; the cycle runs on
// the worker thread and must not take that lock.
#pragma once

#include "lighting/HslToRgb.h"
#include "platform/Clock.h"
#include "platform/ThreadSession.h"
#include "platform/PeriodicThread.h"

#include <chrono>
#include <functional>

namespace ovled {

inline constexpr std::chrono::milliseconds kThermalPeriod{3000};

class ThermalThread {
public:
    ThermalThread(platform::IWaitClock& clock, std::chrono::milliseconds period, std::function<void()> cycle,
                  platform::IThreadSessions& sessions = platform::NoThreadSessions());

    // Recorded as running: started and not asked to stop since.
    bool IsRunning() const { return m_worker.IsRunning(); }
    // Starts the thread unless it is recorded as running. A previous thread that was asked to stop is
    // waited for first, so that two threads never run at once. When no thread can be made it stays
    // stopped, and the next ApplyModes tries again.
    void Start() { (void)m_worker.Start(); }
    // Signals the stop event and records the thread as stopped; does not wait for it.
    void RequestStop() { m_worker.RequestStop(); }
    // The same, and waits until the thread has ended.
    void StopAndWait() { m_worker.StopAndWait(); }

private:
    platform::PeriodicThread m_worker;
};

// The thermal colour rule: the hue, in turns, for a temperature in whole degrees (0.333 green at 20
// degrees and below, falling linearly to 0 red at 60 and above); saturation 1, lightness 0.5.
float ThermalHue(int celsius) noexcept;
inline constexpr float kThermalSaturation = 1.0f;
inline constexpr float kThermalLightness = 0.5f;

// The thermal source's colour for a temperature in whole degrees: green at 20 and below, red at 60 and
// above, fully saturated at half lightness.
Rgb ThermalColour(int celsius) noexcept;

} // namespace ovled
