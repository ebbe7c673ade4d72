// AudioEffect/EasyEffect: the music colour. UpdateBands (capture thread) keeps the three band peaks of
// the latest packet; the colour thread turns them every 10 ms into a smoothed colour, emits the debug
// line and hands the colour to the IColourOutput for the enabled devices. Quiet when idle: once the
// colour has been black for a second the colour thread stops ticking, and the first packet that would
// light anything wakes it at once. Owned by MusicEffectDriver,
// which calls Start/StopColorThread and Enable/DisableDevice from its caller's thread.
#pragma once

#include "lighting/ColourOutput.h"
#include "lighting/HslToRgb.h"
#include "platform/Clock.h"
#include "platform/ThreadSession.h"
#include "platform/PeriodicThread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

namespace ovled {

inline constexpr std::chrono::milliseconds kColourTick{10};
// Black ticks in a row after which the colour thread pauses (one second).
inline constexpr int kIdleAfterDarkTicks = 100;

struct BandLevels {
    float low = 0.0f;
    float mid = 0.0f;
    float high = 0.0f;
};

// The smoothing of one colour-thread run: brightness from the bands' energy, hue from the dominant band.
// Every run starts from black and red.
class MusicColourState {
public:
    Rgb Tick(BandLevels bands) noexcept;
    // Whether these bands light anything at the first tick of a run: sound worth waking for.
    static bool Audible(BandLevels bands) noexcept;
    double Level() const noexcept { return m_level; }
    double Hue() const noexcept { return m_hue; }

private:
    double m_level = 0.0; // smoothed brightness, 0..1
    double m_hue = 0.0;   // in turns, 0..1, never wraps
};

class AudioEffect {
public:
    // `sessions` are begun by each run of the colour thread (the firmware connection it holds).
    AudioEffect(IColourOutput& output, platform::IWaitClock& clock,
                platform::IThreadSessions& sessions = platform::NoThreadSessions());
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    // An effect's own preparation step; nothing calls it yet.
    virtual void Prepare() = 0;

    // Capture thread: analyses one packet and keeps its low, mid and high peaks. A packet that yields
    // no result (no channels, no memory) leaves the previous peaks in place. A packet of silence (every
    // byte zero) gives zero peaks without a transform. An audible packet wakes a paused colour thread.
    void UpdateBands(const std::uint8_t* data, std::uint32_t frameCount, std::uint16_t channelCount) noexcept;
    BandLevels Bands() const noexcept;

    // Starts the colour thread unless it runs. A thread that was asked to stop is waited for first, so
    // one colour thread at most ever runs, and a stop that came while none ran is forgotten.
    void StartColorThread();
    // Asks the colour thread to end at its current wait; returns at once.
    void StopColorThread();
    bool ColorThreadRunning() const { return m_colorThread.IsRunning(); }
    // Whether the colour thread is pausing for silence.
    bool ColorThreadIdle() const { return m_colorThread.IsPaused(); }

    // The devices that receive the colour: -1 onboard, 0..n-1 strips; other indices are kept and unused.
    void EnableDevice(int deviceIndex);
    void DisableDevice(int deviceIndex);
    std::set<int> EnabledDeviceSet() const;

private:
    platform::PeriodicThread::Cycle BeginColorRun();
    struct ColourRun {
        MusicColourState colour;
        int darkTicks = 0;
    };
    void ColorTick(ColourRun& run);

    IColourOutput& m_output;
    mutable std::mutex m_devicesMutex;
    std::set<int> m_enabledDevices;
    std::vector<int> m_tickDevices; // the colour thread's copy of the set for one tick
    std::atomic<float> m_bandLow{0.0f};
    std::atomic<float> m_bandMid{0.0f};
    std::atomic<float> m_bandHigh{0.0f};
    platform::PeriodicThread m_colorThread; // last: its thread uses the members above
};

class EasyEffect final : public AudioEffect {
public:
    using AudioEffect::AudioEffect;
    ~EasyEffect() override;
    void Prepare() override {}
};

} // namespace ovled
