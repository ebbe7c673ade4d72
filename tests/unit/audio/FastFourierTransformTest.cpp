#include "audio/FastFourierTransform.h"
#include "audio/SyntheticCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

namespace ovled {
namespace {

constexpr SyntheticFormat kStereo480{48000, 2, 480}; // 100 Hz per bin

std::vector<std::uint8_t> ToBytes(const std::vector<std::int16_t>& samples)
{
    std::vector<std::uint8_t> bytes;
    for (const std::int16_t sample : samples) {
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(sample) & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(sample) >> 8));
    }
    return bytes;
}

// A sine that completes `cycles` periods in `frames` frames (so it sits exactly in bin `cycles`), with
// a separate amplitude per channel. The eighth-turn phase keeps a tone at the Nyquist bin audible.
std::vector<std::uint8_t> BinTone(int frames, double cycles, std::vector<double> channelAmplitudes, double offset = 0)
{
    const size_t channels = channelAmplitudes.size();
    std::vector<std::int16_t> samples(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        const double s = std::sin(2.0 * std::numbers::pi * cycles * i / frames + std::numbers::pi / 4);
        for (size_t c = 0; c < channels; ++c)
            samples[static_cast<size_t>(i) * channels + c] =
                static_cast<std::int16_t>(std::lround(offset + channelAmplitudes[c] * 32767.0 * s));
    }
    return ToBytes(samples);
}

std::vector<float> Analyze(const std::vector<std::uint8_t>& packet, std::uint32_t frames, std::uint16_t channels,
                           int bands = 3)
{
    KISS_FFT fft(bands);
    return fft.Analyze(packet.data(), frames, channels);
}

// The band peaks computed the slow way: mono mix in double, a direct DFT, the peak of each band between
// the band edges N^(d / (bands - 1)) as the contract writes them.
std::vector<double> ReferenceBands(const std::vector<std::uint8_t>& packet, int n, int channels, int bands)
{
    std::vector<double> mono(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        auto at = [&](int c) {
            const size_t byte = (static_cast<size_t>(i) * channels + c) * 2;
            return static_cast<std::int16_t>(packet[byte] | (packet[byte + 1] << 8)) / 32768.0;
        };
        mono[static_cast<size_t>(i)] = (at(0) + at(channels > 1 ? 1 : 0)) / 2.0;
    }
    std::vector<double> magnitude(static_cast<size_t>(n / 2));
    for (int k = 0; k < n / 2; ++k) {
        std::complex<double> sum;
        for (int i = 0; i < n; ++i)
            sum += mono[static_cast<size_t>(i)] * std::polar(1.0, -2.0 * std::numbers::pi * k * i / n);
        magnitude[static_cast<size_t>(k)] = std::abs(sum) / 2.0;
    }
    std::vector<double> peaks;
    int start = 0;
    for (int d = 0; d < std::min(bands, 3); ++d) {
        int end = static_cast<int>(std::pow(std::pow(static_cast<double>(n), 0.1), d * 10.0 / (bands - 1)));
        end = std::min(std::max(end, start + 1), n / 2 - 1);
        double peak = 0;
        for (int k = start + 1; k <= end; ++k)
            peak = std::max(peak, magnitude[static_cast<size_t>(k)]);
        if (start < end)
            start = end;
        peaks.push_back(peak);
    }
    return peaks;
}

TEST(KissFft, AgreesWithADirectDftOnRandomPackets)
{
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    for (const int n : {480, 441, 512, 97, 30, 5}) {
        for (const int channels : {1, 2, 3}) {
            for (const int bands : {2, 3, 6}) {
                std::vector<std::int16_t> samples(static_cast<size_t>(n) * channels);
                for (auto& s : samples)
                    s = static_cast<std::int16_t>(sample(random));
                const auto packet = ToBytes(samples);
                const auto expected = ReferenceBands(packet, n, channels, bands);
                const auto actual =
                    Analyze(packet, static_cast<std::uint32_t>(n), static_cast<std::uint16_t>(channels), bands);
                ASSERT_EQ(actual.size(), expected.size()) << n << " frames, " << bands << " bands";
                for (size_t b = 0; b < actual.size(); ++b)
                    EXPECT_NEAR(actual[b], expected[b], 1e-3 * expected[b] + 1e-4)
                        << n << " frames, " << channels << " channels, band " << b << " of " << bands;
            }
        }
    }
}

TEST(KissFft, AFullScaleHundredHertzToneFillsTheLowBand)
{
    const auto bands = Analyze(TonePacket(kStereo480, 100.0, 1.0), 480, 2);
    ASSERT_EQ(bands.size(), 3u);
    EXPECT_NEAR(bands[0], 0.5 * 240, 0.1); // half the bin's amplitude sum of 240
    EXPECT_LT(bands[1], 0.01);
    EXPECT_LT(bands[2], 0.01);
}

TEST(KissFft, ChannelsAreAveraged)
{
    // The tone on one channel of two: half the value.
    const auto oneSide = Analyze(BinTone(480, 1, {1.0, 0.0}), 480, 2);
    ASSERT_EQ(oneSide.size(), 3u);
    EXPECT_NEAR(oneSide[0], 60.0, 0.1);

    // One channel: each sample counts for both, so the packet reads as a full stereo tone, and no byte
    // past the 960 of the packet is read.
    const auto mono = BinTone(480, 1, {1.0});
    ASSERT_EQ(mono.size(), 960u);
    const auto monoBands = Analyze(mono, 480, 1);
    ASSERT_EQ(monoBands.size(), 3u);
    EXPECT_NEAR(monoBands[0], 120.0, 0.1);

    // Four channels: only the first two count; loud third and fourth channels change nothing.
    std::vector<std::uint8_t> quad(480 * 4 * 2);
    const auto front = BinTone(480, 1, {1.0, 1.0});
    const auto rear = BinTone(480, 50, {1.0, 1.0});
    for (size_t frame = 0; frame < 480; ++frame) {
        std::copy_n(front.begin() + static_cast<long>(frame * 4), 4, quad.begin() + static_cast<long>(frame * 8));
        std::copy_n(rear.begin() + static_cast<long>(frame * 4), 4, quad.begin() + static_cast<long>(frame * 8 + 4));
    }
    const auto quadBands = Analyze(quad, 480, 4);
    ASSERT_EQ(quadBands.size(), 3u);
    EXPECT_NEAR(quadBands[0], 120.0, 0.1);
    EXPECT_LT(quadBands[2], 0.01);
}

TEST(KissFft, BandEdgesAt480FramesAreBin1Then2To21Then22To239)
{
    struct Case {
        int bin;
        int band; // -1: in no band
    };
    for (const Case c : {Case{1, 0}, {2, 1}, {21, 1}, {22, 2}, {239, 2}, {240, -1}}) {
        const auto bands = Analyze(BinTone(480, c.bin, {0.5, 0.5}), 480, 2);
        ASSERT_EQ(bands.size(), 3u);
        for (int b = 0; b < 3; ++b) {
            if (b == c.band)
                EXPECT_NEAR(bands[static_cast<size_t>(b)], 60.0, 0.1) << "bin " << c.bin;
            else
                EXPECT_LT(bands[static_cast<size_t>(b)], 0.05) << "bin " << c.bin << " band " << b;
        }
    }
}

TEST(KissFft, TheMidEdgeIsTheTruncatedPowerNotTheRoundedRoot)
{
    // sqrt(256) is 16, but pow(pow(256, 0.1), 5) comes out just below 16: bin 16 is already high band.
    const auto at16 = Analyze(BinTone(256, 16, {0.5, 0.5}), 256, 2);
    const auto at15 = Analyze(BinTone(256, 15, {0.5, 0.5}), 256, 2);
    ASSERT_EQ(at16.size(), 3u);
    ASSERT_EQ(at15.size(), 3u);
    EXPECT_GT(at16[2], 10 * at16[1]);
    EXPECT_GT(at15[1], 10 * at15[2]);
}

TEST(KissFft, AConstantOffsetNeverReachesABand)
{
    const auto offsetOnly = Analyze(BinTone(480, 0, {0.0, 0.0}, 12000.0), 480, 2);
    EXPECT_EQ(offsetOnly, (std::vector<float>{0.0f, 0.0f, 0.0f}));
    const auto withTone = Analyze(BinTone(480, 1, {0.5, 0.5}, 12000.0), 480, 2);
    ASSERT_EQ(withTone.size(), 3u);
    EXPECT_NEAR(withTone[0], 60.0, 0.1);
    EXPECT_LT(withTone[1], 0.05);
}

TEST(KissFft, SilenceAndPacketsWithoutBandBinsGiveZeros)
{
    EXPECT_EQ(Analyze(std::vector<std::uint8_t>(480 * 4), 480, 2), (std::vector<float>{0, 0, 0}));
    // Up to 3 frames the highest bin is 0 or below: no band has a bin, even for a loud packet.
    for (const std::uint32_t frames : {0u, 1u, 2u, 3u}) {
        const auto loud = BinTone(static_cast<int>(frames), 1, {1.0, 1.0});
        EXPECT_EQ(Analyze(loud, frames, 2), (std::vector<float>{0, 0, 0})) << frames << " frames";
    }
}

TEST(KissFft, AtMostThreeBandsComeBack)
{
    const auto packet = TonePacket(kStereo480, 100.0, 0.5);
    EXPECT_EQ(Analyze(packet, 480, 2, 3).size(), 3u);
    EXPECT_EQ(Analyze(packet, 480, 2, 5).size(), 3u);
    EXPECT_TRUE(Analyze(packet, 480, 2, 0).empty());
    EXPECT_TRUE(Analyze(packet, 480, 2, -1).empty());
    // A single band holds bin 1 alone.
    const auto single = Analyze(packet, 480, 2, 1);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_NEAR(single[0], 60.0, 0.1);
    EXPECT_NEAR(Analyze(BinTone(480, 2, {0.5, 0.5}), 480, 2, 1)[0], 0.0, 0.05);
}

TEST(KissFft, PacketsThatCannotBeAnalysedGiveAnEmptyResult)
{
    const auto packet = TonePacket(kStereo480, 100.0, 0.5);
    EXPECT_TRUE(Analyze(packet, 480, 0).empty()) << "no channels: no frame layout";
    // Far beyond any plan; the packet behind the pointer is never read.
    EXPECT_TRUE(Analyze(packet, 0x80000000u, 2).empty());
}

// Fails the allocation with the given number (0 = the first) and counts what is still outstanding.
class FailingMemory final : public std::pmr::memory_resource {
public:
    explicit FailingMemory(int failAt) : m_failAt(failAt) {}
    int Outstanding() const { return m_outstanding; }
    int Allocations() const { return m_allocations; }

private:
    void* do_allocate(size_t bytes, size_t alignment) override
    {
        if (m_allocations++ == m_failAt)
            throw std::bad_alloc();
        ++m_outstanding;
        return std::pmr::new_delete_resource()->allocate(bytes, alignment);
    }
    void do_deallocate(void* p, size_t bytes, size_t alignment) override
    {
        --m_outstanding;
        std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
    }
    bool do_is_equal(const memory_resource& other) const noexcept override { return this == &other; }

    const int m_failAt;
    int m_allocations = 0;
    int m_outstanding = 0;
};

TEST(KissFft, AnAllocationFailureGivesAnEmptyResultAndFreesTheRest)
{
    const auto packet = TonePacket(kStereo480, 100.0, 0.5);
    FailingMemory never(-1);
    ASSERT_EQ(KISS_FFT(3, &never).Analyze(packet.data(), 480, 2).size(), 3u);
    const int allocations = never.Allocations();
    ASSERT_GT(allocations, 0);
    EXPECT_EQ(never.Outstanding(), 0);
    for (int failAt = 0; failAt < allocations; ++failAt) {
        FailingMemory memory(failAt);
        EXPECT_TRUE(KISS_FFT(3, &memory).Analyze(packet.data(), 480, 2).empty()) << "allocation " << failAt;
        EXPECT_EQ(memory.Outstanding(), 0) << "allocation " << failAt;
    }
}

} // namespace
} // namespace ovled
