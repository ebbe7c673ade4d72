// Captures real audio: tests/windows/audio/real-capture.sh starts a private PulseAudio with a null
// sink, plays a tone of $OVLED_TONE_HZ into it, and runs this executable with PULSE_SERVER set, so the
// default output (or, where loopback is refused, the sink's monitor) carries the tone.
#include "audio/FastFourierTransform.h"
#include "audio/win32/LoopbackCapture.h"
#include "tests/support/AudioTestSupport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace ovled {
namespace {

// Band peaks of the packets that carry sound, summed.
class BandCollector {
public:
    void Add(const std::uint8_t* data, std::uint32_t frames, std::uint16_t channels)
    {
        KISS_FFT fft(3);
        const auto bands = fft.Analyze(data, frames, channels);
        std::lock_guard lock(m_mutex);
        ++m_packets;
        m_frames = frames;
        m_channels = channels;
        if (bands.size() != 3 || bands[0] + bands[1] + bands[2] < 1.0f)
            return;
        for (size_t b = 0; b < 3; ++b)
            m_sum[b] += bands[b];
        ++m_loud;
        m_changed.notify_all();
    }
    bool WaitForLoudPackets(int count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_loud >= count; });
    }
    std::array<double, 3> Mean()
    {
        std::lock_guard lock(m_mutex);
        return {m_sum[0] / m_loud, m_sum[1] / m_loud, m_sum[2] / m_loud};
    }
    int Packets()
    {
        std::lock_guard lock(m_mutex);
        return m_packets;
    }
    std::uint16_t Channels()
    {
        std::lock_guard lock(m_mutex);
        return m_channels;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_packets = 0;
    int m_loud = 0;
    std::uint32_t m_frames = 0;
    std::uint16_t m_channels = 0;
    double m_sum[3] = {0, 0, 0};
};

TEST(RealCapture, APlayingLowToneMakesTheLowBandDominate)
{
    const char* tone = std::getenv("OVLED_TONE_HZ");
    ASSERT_NE(tone, nullptr) << "run through tests/windows/audio/real-capture.sh, which plays the tone";
    ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr);

    test::RecordingCaptureLog log;
    test::RecordingNotifier notifier;
    win32::ScopedComInit com(COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(SUCCEEDED(com.Result()));

    BandCollector bands;
    LoopbackCapture capture;
    capture.SetDataCallback([&](const std::uint8_t* data, std::uint32_t frames, std::uint32_t, std::uint16_t channels) {
        bands.Add(data, frames, channels);
    });
    capture.Start();
    const bool heard = bands.WaitForLoudPackets(100); // one second of sound
    capture.Stop();

    EXPECT_TRUE(notifier.Notes().empty()) << "an output endpoint exists";
    ASSERT_TRUE(heard) << bands.Packets() << " packets, messages:\n" << log.Text();
    const auto mean = bands.Mean();
    std::printf("capture: %d packets, %u channels; mean bands low %.1f mid %.1f high %.1f\n", bands.Packets(),
                bands.Channels(), mean[0], mean[1], mean[2]);
    EXPECT_GT(mean[0], 20.0);
    EXPECT_GT(mean[0], 10 * mean[1]);
    EXPECT_GT(mean[0], 10 * mean[2]);

    // Either loopback works, or the driver refused it in exactly the known way and the monitor was used.
    const std::string text = log.Text();
    const std::string refused =
        "IAudioClient::GetService(IAudioCaptureClient) failed: hr 0x88890003\n"
        "Loopback capture is not supported here; capturing the default capture endpoint instead\n";
    const std::string run = text.rfind(refused, 0) == 0 ? text.substr(refused.size()) : text;
    EXPECT_EQ(run.rfind("Received stop event after ", 0), 0u) << text;
    EXPECT_EQ(run.find("Thread HRESULT"), std::string::npos) << text;
}

} // namespace
} // namespace ovled
