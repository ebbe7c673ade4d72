// SyntheticCapture: an audio source that plays generated packets to the data callback, one packet per
// period of its clock, on a thread of its own. The stand-in for loopback capture in tests, benchmarks
// and the demo. Start/Stop from the owner's thread; the generator and the callback run on the source's
// thread; the counters may be read from any thread.
#pragma once

#include "audio/AudioCapture.h"
#include "platform/Clock.h"
#include "platform/PeriodicThread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace ovled {

struct SyntheticFormat {
    std::uint32_t sampleRate = 48000;
    std::uint16_t channels = 2;
    std::uint32_t framesPerPacket = 480; // 10 ms at 48000 Hz
};

// Fills one packet of interleaved samples (framesPerPacket x channels); `firstFrame` counts the frames
// played before this packet in the current run.
using SampleGenerator = std::function<void(std::uint64_t firstFrame, std::vector<std::int16_t>& samples)>;

// A sine of `frequency` Hz at `amplitude` (1.0 is full scale) on every channel, continuous across packets.
SampleGenerator ToneGenerator(const SyntheticFormat& format, double frequency, double amplitude);
// The same sine written into one packet, for tests that build packets by hand.
std::vector<std::uint8_t> TonePacket(const SyntheticFormat& format, double frequency, double amplitude);

class SyntheticCapture final : public IAudioCapture {
public:
    SyntheticCapture(platform::IWaitClock& clock, SyntheticFormat format, SampleGenerator generator);
    ~SyntheticCapture() override;

    void SetDataCallback(AudioDataCallback callback) override;
    bool Start() override;
    bool Stop() override;

    int Starts() const noexcept { return m_starts.load(); }
    int Stops() const noexcept { return m_stops.load(); }
    std::uint64_t PacketsPlayed() const noexcept { return m_packets.load(); }
    bool Running() const { return m_thread.IsRunning(); }

private:
    platform::PeriodicThread::Cycle BeginRun();

    const SyntheticFormat m_format;
    const SampleGenerator m_generator;
    AudioDataCallback m_callback;
    std::atomic<int> m_starts{0};
    std::atomic<int> m_stops{0};
    std::atomic<std::uint64_t> m_packets{0};
    platform::PeriodicThread m_thread; // last: its thread uses the members above
};

} // namespace ovled
