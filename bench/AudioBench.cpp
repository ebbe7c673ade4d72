// The music mode's costs: the analysis of one captured packet, the colour thread's achieved tick period,
// and the latency from a step in the audio to the first changed colour. Figures only.
#include "audio/AudioEffect.h"
#include "audio/FastFourierTransform.h"
#include "audio/MusicEffectDriver.h"
#include "audio/SyntheticCapture.h"
#include "bench/BenchUtil.h"
#include "platform/Clock.h"
#include "platform/DebugOutput.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace ovled {
namespace {

using Clock = std::chrono::steady_clock;
constexpr SyntheticFormat kFormat{48000, 2, 480};

double Micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

class NullDebugOutput final : public platform::IDebugOutput {
public:
    void Write(std::wstring_view) noexcept override {}
};

// Notes when each tick's colour arrives, and the first tick that is not black.
class TimedOutput final : public IColourOutput {
public:
    void Write(const EnabledDevices&, Rgb colour) noexcept override
    {
        const auto now = Clock::now();
        std::lock_guard lock(m_mutex);
        m_times.push_back(now);
        m_black = colour == Rgb{};
        if (!m_black && !m_firstLit)
            m_firstLit = now;
        m_changed.notify_all();
    }
    std::vector<Clock::time_point> Times()
    {
        std::lock_guard lock(m_mutex);
        return m_times;
    }
    std::optional<Clock::time_point> WaitForLit(std::chrono::milliseconds patience)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, patience, [this] { return m_firstLit.has_value(); });
        return m_firstLit;
    }
    // Waits for a black tick, then forgets what came before it.
    bool ResetWhenBlack(std::chrono::milliseconds patience)
    {
        std::unique_lock lock(m_mutex);
        m_black = false;
        if (!m_changed.wait_for(lock, patience, [this] { return m_black; }))
            return false;
        m_times.clear();
        m_firstLit.reset();
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Clock::time_point> m_times;
    std::optional<Clock::time_point> m_firstLit;
    bool m_black = false;
};

void AnalysisCost()
{
    const auto packet = TonePacket(kFormat, 100.0, 0.5);
    bench::Print("KISS_FFT(3).Analyze, one 480-frame stereo packet", bench::Measure(
                                                                         [&] {
                                                                             KISS_FFT fft(3);
                                                                             volatile float sink =
                                                                                 fft.Analyze(packet.data(), 480, 2)[0];
                                                                             (void)sink;
                                                                         },
                                                                         3000, 50));
    NullDebugOutput quiet;
    platform::ScopedDebugOutput install(quiet);
    TimedOutput output;
    EasyEffect effect(output, platform::SystemClock());
    bench::Print("AudioEffect::UpdateBands, one 480-frame stereo packet",
                 bench::Measure([&] { effect.UpdateBands(packet.data(), 480, 2); }, 3000, 50));
}

void TickPeriod(bool realDebugOutput)
{
    NullDebugOutput quiet;
    std::optional<platform::ScopedDebugOutput> install;
    if (!realDebugOutput)
        install.emplace(quiet);
    TimedOutput output;
    EasyEffect effect(output, platform::SystemClock());
    effect.EnableDevice(-1);
    effect.StartColorThread();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    effect.StopColorThread();
    const auto times = output.Times();
    std::vector<double> periods;
    for (size_t i = 1; i < times.size(); ++i)
        periods.push_back(Micros(times[i] - times[i - 1]));
    bench::Print(realDebugOutput ? "colour tick period (10 ms asked), with the debug line output"
                                 : "colour tick period (10 ms asked), debug line discarded",
                 bench::Summarise(periods));
}

void StepLatency()
{
    NullDebugOutput quiet;
    platform::ScopedDebugOutput install(quiet);
    // Silence until the step, then a loud 100 Hz tone; the first loud packet's delivery is the step.
    std::atomic<bool> loud{false};
    std::atomic<Clock::rep> stepDelivered{0};
    const auto tone = ToneGenerator(kFormat, 100.0, 1.0);
    auto generator = [&](std::uint64_t firstFrame, std::vector<std::int16_t>& samples) {
        if (!loud.load()) {
            std::fill(samples.begin(), samples.end(), 0);
            return;
        }
        tone(firstFrame, samples);
        Clock::rep expected = 0;
        stepDelivered.compare_exchange_strong(expected, Clock::now().time_since_epoch().count());
    };
    auto output = std::make_unique<TimedOutput>();
    TimedOutput& timed = *output;
    MusicEffectDriver driver(std::make_unique<SyntheticCapture>(platform::SystemClock(), kFormat, generator),
                             std::move(output));
    driver.EnableDevice(-1);

    std::vector<double> fromPacket, fromCommand;
    for (int trial = 0; trial < 40; ++trial) {
        loud = false;
        stepDelivered = 0;
        driver.Start();
        // Silence until the colour is black (the bands of the previous trial fade out); the step then
        // falls at a different phase of the tick each time.
        const bool black = timed.ResetWhenBlack(std::chrono::seconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds((trial * 7) % 10));
        const auto commanded = Clock::now();
        loud = true;
        const auto lit = timed.WaitForLit(std::chrono::seconds(2));
        driver.Stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the last packet and tick run out
        if (!black || !lit || stepDelivered.load() == 0)
            continue;
        const Clock::time_point delivered{Clock::duration(stepDelivered.load())};
        fromPacket.push_back(Micros(*lit - delivered));
        fromCommand.push_back(Micros(*lit - commanded));
    }
    std::printf("step latency: %zu of 40 trials measured\n", fromPacket.size());
    bench::Print("step latency: first loud packet -> first lit colour", bench::Summarise(fromPacket));
    bench::Print("step latency: audio turns loud -> first lit colour", bench::Summarise(fromCommand));
}

} // namespace
} // namespace ovled

int main()
{
    std::printf("music mode (per-device firmware writes are not included: the output only notes the time)\n");
    ovled::AnalysisCost();
    ovled::TickPeriod(false);
#ifdef _WIN32
    ovled::TickPeriod(true); // OutputDebugStringW; the host's default would print to standard error
#endif
    ovled::StepLatency();
    return 0;
}
