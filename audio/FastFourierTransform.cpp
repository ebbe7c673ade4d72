#include "audio/FastFourierTransform.h"

#include "platform/Truncation.h"

#include <kiss_fft.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>

namespace ovled {
namespace {

// 2^-15: one step of a signed 16-bit sample on the scale -1..1.
constexpr double kSampleScale = 3.0517578125e-05;

// One block of work memory from a memory resource, returned when the block goes.
class WorkBlock {
public:
    WorkBlock(std::pmr::memory_resource* memory, std::size_t bytes)
        : m_memory(memory), m_bytes(bytes), m_data(memory->allocate(bytes, alignof(std::max_align_t)))
    {
    }
    ~WorkBlock() { m_memory->deallocate(m_data, m_bytes, alignof(std::max_align_t)); }
    WorkBlock(const WorkBlock&) = delete;
    WorkBlock& operator=(const WorkBlock&) = delete;

    template <class T> T* As() const noexcept { return static_cast<T*>(m_data); }

private:
    std::pmr::memory_resource* const m_memory;
    const std::size_t m_bytes;
    void* const m_data;
};

std::int16_t SampleAt(const std::uint8_t* bytes) noexcept
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
}

// The band edges are powers of N: the upper edge of band d is N^(d / (bandCount - 1)), written as
// pow(pow(N, 0.1), 10d / (bandCount - 1)) and truncated, which is what fixes the mid edge at 21 for
// N = 480 (not the rounded square root 22). A single band divides 0 by 0; the NaN exponent then makes
// the edge "integer indefinite", so the band holds bin 1 alone.
int UpperEdge(double base, int band, int bandCount) noexcept
{
    const double exponent = bandCount > 1 ? band * 10.0 / (bandCount - 1) : std::numeric_limits<double>::quiet_NaN();
    return TruncateToInt(std::pow(base, exponent));
}

} // namespace

std::vector<float> KISS_FFT::Analyze(const std::uint8_t* samples, std::uint32_t frameCount, std::uint16_t channelCount)
{
    try {
        return AnalyzeOrThrow(samples, frameCount, channelCount);
    } catch (const std::bad_alloc&) {
        // The effect keeps its previous bands when a packet yields no result.
        return {};
    }
}

std::vector<float> KISS_FFT::AnalyzeOrThrow(const std::uint8_t* samples, std::uint32_t frameCount,
                                            std::uint16_t channelCount)
{
    // Without channels a packet has no frame layout to read; a packet too large for a plan cannot be
    // transformed at all.
    if (channelCount == 0 || frameCount > static_cast<std::uint32_t>(INT_MAX))
        return {};

    const int n = static_cast<int>(frameCount);
    const int bands = std::min(m_bandCount, kMaxReturnedBands); // later bands never change earlier ones
    const int maxBin = n / 2 - 1;
    std::vector<float> result;
    result.reserve(static_cast<std::size_t>(std::max(bands, 0)));

    // Magnitudes of bins 0 .. N/2 - 1. Sizes below 4 have no bin that any band reads.
    std::unique_ptr<WorkBlock> magnitudeBlock;
    double* magnitude = nullptr;
    if (maxBin >= 1) {
        std::size_t planBytes = 0;
        kiss_fft_alloc(n, 0, nullptr, &planBytes); // asks for the plan's size only
        const WorkBlock planBlock(m_memory, planBytes);
        const kiss_fft_cfg plan = kiss_fft_alloc(n, 0, planBlock.As<void>(), &planBytes);
        if (!plan)
            return {};

        const std::size_t points = static_cast<std::size_t>(n);
        const WorkBlock input(m_memory, points * sizeof(kiss_fft_cpx));
        const WorkBlock spectrum(m_memory, points * sizeof(kiss_fft_cpx));
        magnitudeBlock = std::make_unique<WorkBlock>(m_memory, points / 2 * sizeof(double));

        // Mono mix-down: the mean of the first two channels; a one-channel frame counts for both.
        kiss_fft_cpx* in = input.As<kiss_fft_cpx>();
        const std::size_t frameBytes = static_cast<std::size_t>(channelCount) * 2;
        for (std::size_t i = 0; i < points; ++i) {
            const std::uint8_t* frame = samples + i * frameBytes;
            const double a = SampleAt(frame);
            const double b = channelCount >= 2 ? SampleAt(frame + 2) : a;
            in[i].r = static_cast<float>((a * kSampleScale + b * kSampleScale) * 0.5);
            in[i].i = 0.0f;
        }

        kiss_fft_cpx* out = spectrum.As<kiss_fft_cpx>();
        kiss_fft(plan, in, out);

        magnitude = magnitudeBlock->As<double>();
        for (std::size_t k = 0; k < points / 2; ++k) {
            const float power = out[k].r * out[k].r + out[k].i * out[k].i;
            magnitude[k] = 0.5 * static_cast<double>(std::sqrt(power));
        }
    }

    const double base = std::pow(static_cast<double>(n), 0.1);
    int start = 0;
    for (int band = 0; band < bands; ++band) {
        float peak = 0.0f;
        int end = UpperEdge(base, band, m_bandCount);
        if (end <= start)
            end = start + 1;
        if (end > maxBin)
            end = maxBin;
        if (start < end) {
            // Bin 0 (the mean) belongs to no band; a bin wins only when strictly larger.
            for (int k = start + 1; k <= end; ++k) {
                if (magnitude[k] > static_cast<double>(peak))
                    peak = static_cast<float>(magnitude[k]);
            }
            start = end;
        }
        result.push_back(peak);
    }
    return result;
}

} // namespace ovled
