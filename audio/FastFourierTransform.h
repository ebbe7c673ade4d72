// Spectrum analysis of one captured packet: KISS_FFT mixes the packet down to mono, takes its magnitude
// spectrum and returns the peak of each logarithmically spaced band, lowest first. The effect makes one
// for every packet on the capture thread; every buffer belongs to one call.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

namespace ovled {

// At most this many band peaks are returned, whatever the band count.
inline constexpr int kMaxReturnedBands = 3;

class FastFourierTransform {
public:
    // `samples`: `frameCount` frames of interleaved signed 16-bit little-endian PCM with `channelCount`
    // samples each. Returns min(bandCount, 3) peaks, or an empty result when the packet cannot be
    // analysed (no channels, or not enough memory).
    virtual std::vector<float> Analyze(const std::uint8_t* samples, std::uint32_t frameCount,
                                       std::uint16_t channelCount) = 0;

protected:
    ~FastFourierTransform() = default;
};

class KISS_FFT final : public FastFourierTransform {
public:
    // The work memory of each call (plan, mono input, spectrum, magnitudes) comes from `memory`.
    explicit KISS_FFT(int bandCount, std::pmr::memory_resource* memory = std::pmr::new_delete_resource()) noexcept
        : m_bandCount(bandCount), m_memory(memory)
    {
    }

    std::vector<float> Analyze(const std::uint8_t* samples, std::uint32_t frameCount,
                               std::uint16_t channelCount) override;

private:
    std::vector<float> AnalyzeOrThrow(const std::uint8_t* samples, std::uint32_t frameCount,
                                      std::uint16_t channelCount);

    const int m_bandCount;
    std::pmr::memory_resource* const m_memory;
};

} // namespace ovled
