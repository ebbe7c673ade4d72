#include "audio/AudioEffect.h"

#include "audio/FastFourierTransform.h"
#include "platform/DebugOutput.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cwchar>

namespace ovled {
namespace {

// pi as a float constant, widened.
constexpr double kPi = static_cast<double>(3.1415925f);
// Sum of the squared peaks at which the brightness is full.
constexpr double kFullEnergy = 250.0;

enum class Dominant { Low, Mid, High };

// Ties go to the lower band.
Dominant DominantBand(float low, float mid, float high) noexcept
{
    if (high > mid)
        return high > low ? Dominant::High : Dominant::Low;
    return mid > low ? Dominant::Mid : Dominant::Low;
}

// A band peak as the smoothing reads it: negative values and NaN count as silence.
double BandValue(float band) noexcept
{
    const double value = band;
    return value > 0.0 ? value : 0.0;
}

void EmitDebugLine(Rgb colour) noexcept
{
    wchar_t line[1024];
    std::swprintf(line, sizeof line / sizeof line[0], L"[LED] Red: %d, Green: %d, Blue: %d,  \n", colour.red,
                  colour.green, colour.blue);
    platform::DebugOutput().Write(line);
}

} // namespace

Rgb MusicColourState::Tick(BandLevels bands) noexcept
{
    const double low = BandValue(bands.low);
    const double mid = BandValue(bands.mid);
    const double high = BandValue(bands.high);

    double energy = (mid * mid + high * high + low * low) / kFullEnergy;
    if (energy > 1.0)
        energy = 1.0;
    const double target = std::sin(energy * kPi * 0.5);
    m_level = m_level + (target - m_level) * 0.5;

    double targetHue = 0.0;
    double rate = 0.2;
    switch (DominantBand(static_cast<float>(low), static_cast<float>(mid), static_cast<float>(high))) {
    case Dominant::High:
        targetHue = 1.0;
        break;
    case Dominant::Mid:
        targetHue = 0.5;
        rate = 0.05;
        break;
    case Dominant::Low:
        break;
    }
    m_hue = m_hue + (targetHue - m_hue) * rate;

    return HslToRgb(static_cast<float>(m_hue), 1.0f, static_cast<float>(m_level * 0.5));
}

bool MusicColourState::Audible(BandLevels bands) noexcept
{
    return MusicColourState{}.Tick(bands) != Rgb{};
}

AudioEffect::AudioEffect(IColourOutput& output, platform::IWaitClock& clock, platform::IThreadSessions& sessions)
    : m_output(output), m_colorThread(clock, kColourTick, [this] { return BeginColorRun(); }, sessions)
{
}

AudioEffect::~AudioEffect() = default;

EasyEffect::~EasyEffect() = default;

void AudioEffect::UpdateBands(const std::uint8_t* data, std::uint32_t frameCount, std::uint16_t channelCount) noexcept
{
    BandLevels bands;
    const std::size_t bytes = std::size_t{frameCount} * channelCount * sizeof(std::int16_t);
    const bool silent = data && channelCount > 0 && frameCount > 0 && frameCount <= INT_MAX &&
                        std::all_of(data, data + bytes, [](std::uint8_t b) { return b == 0; });
    if (!silent) {
        // The transform of silence is zero in every band; only sound needs it.
        KISS_FFT fft(3);
        const std::vector<float> result = fft.Analyze(data, frameCount, channelCount);
        if (result.size() != 3)
            return;
        bands = {result[0], result[1], result[2]};
    }
    m_bandLow.store(bands.low, std::memory_order_relaxed);
    m_bandMid.store(bands.mid, std::memory_order_relaxed);
    m_bandHigh.store(bands.high, std::memory_order_relaxed);
    if (!silent && MusicColourState::Audible(bands))
        m_colorThread.Wake();
}

BandLevels AudioEffect::Bands() const noexcept
{
    return {m_bandLow.load(std::memory_order_relaxed), m_bandMid.load(std::memory_order_relaxed),
            m_bandHigh.load(std::memory_order_relaxed)};
}

void AudioEffect::StartColorThread()
{
    (void)m_colorThread.Start();
}

void AudioEffect::StopColorThread()
{
    m_colorThread.RequestStop();
}

void AudioEffect::EnableDevice(int deviceIndex)
{
    bool added = false;
    {
        std::lock_guard lock(m_devicesMutex);
        added = m_enabledDevices.insert(deviceIndex).second;
    }
    // A thread paused in silence would leave the new device showing its last mode's colour.
    if (added)
        m_colorThread.Wake();
}

void AudioEffect::DisableDevice(int deviceIndex)
{
    std::lock_guard lock(m_devicesMutex);
    m_enabledDevices.erase(deviceIndex);
}

std::set<int> AudioEffect::EnabledDeviceSet() const
{
    std::lock_guard lock(m_devicesMutex);
    return m_enabledDevices;
}

platform::PeriodicThread::Cycle AudioEffect::BeginColorRun()
{
    // Level and hue belong to one run: every start fades in from black and red. The band peaks are the
    // effect's and carry over from the last packet analysed. What the output remembers of the devices
    // belongs to one run too: between runs another mode may have painted them.
    m_output.Restart();
    return [this, run = ColourRun{}]() mutable { ColorTick(run); };
}

void AudioEffect::ColorTick(ColourRun& run)
{
    const Rgb colour = run.colour.Tick(Bands());
    if (colour != Rgb{}) {
        run.darkTicks = 0;
    } else if (++run.darkTicks >= kIdleAfterDarkTicks) {
        // Dark for a second: nothing changes until sound comes, which wakes the thread.
        run.darkTicks = 0;
        m_colorThread.PauseAfterThisCycle();
    }
    EmitDebugLine(colour);
    {
        // The set is copied for the tick so that enabling and disabling never wait for the writes.
        std::lock_guard lock(m_devicesMutex);
        m_tickDevices.assign(m_enabledDevices.begin(), m_enabledDevices.end());
    }
    m_output.Write(EnabledDevices(m_tickDevices), colour);
}

} // namespace ovled
