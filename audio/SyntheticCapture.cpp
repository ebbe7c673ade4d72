#include "audio/SyntheticCapture.h"

#include <cmath>
#include <memory>
#include <numbers>

namespace ovled {
namespace {

std::chrono::milliseconds PacketPeriod(const SyntheticFormat& format)
{
    return std::chrono::milliseconds(format.sampleRate ? format.framesPerPacket * 1000ull / format.sampleRate : 10);
}

void AppendLittleEndian(std::vector<std::uint8_t>& bytes, const std::vector<std::int16_t>& samples)
{
    bytes.clear();
    for (const std::int16_t sample : samples) {
        const auto value = static_cast<std::uint16_t>(sample);
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    }
}

} // namespace

SampleGenerator ToneGenerator(const SyntheticFormat& format, double frequency, double amplitude)
{
    return [format, frequency, amplitude](std::uint64_t firstFrame, std::vector<std::int16_t>& samples) {
        const double step = 2.0 * std::numbers::pi * frequency / format.sampleRate;
        for (std::uint32_t frame = 0; frame < format.framesPerPacket; ++frame) {
            const double value = amplitude * 32767.0 * std::sin(step * static_cast<double>(firstFrame + frame));
            const auto sample = static_cast<std::int16_t>(std::lround(value));
            for (std::uint16_t channel = 0; channel < format.channels; ++channel)
                samples[static_cast<std::size_t>(frame) * format.channels + channel] = sample;
        }
    };
}

std::vector<std::uint8_t> TonePacket(const SyntheticFormat& format, double frequency, double amplitude)
{
    std::vector<std::int16_t> samples(static_cast<std::size_t>(format.framesPerPacket) * format.channels);
    ToneGenerator(format, frequency, amplitude)(0, samples);
    std::vector<std::uint8_t> bytes;
    AppendLittleEndian(bytes, samples);
    return bytes;
}

SyntheticCapture::SyntheticCapture(platform::IWaitClock& clock, SyntheticFormat format, SampleGenerator generator)
    : m_format(format), m_generator(std::move(generator)),
      m_thread(clock, PacketPeriod(format), [this] { return BeginRun(); })
{
}

SyntheticCapture::~SyntheticCapture()
{
    m_thread.StopAndWait();
}

void SyntheticCapture::SetDataCallback(AudioDataCallback callback)
{
    m_callback = std::move(callback);
}

bool SyntheticCapture::Start()
{
    ++m_starts;
    (void)m_thread.Start();
    return true;
}

bool SyntheticCapture::Stop()
{
    ++m_stops;
    m_thread.StopAndWait();
    return true;
}

platform::PeriodicThread::Cycle SyntheticCapture::BeginRun()
{
    // Buffers of one run, reused packet after packet.
    struct Run {
        std::uint64_t frames = 0;
        std::vector<std::int16_t> samples;
        std::vector<std::uint8_t> bytes;
    };
    auto run = std::make_shared<Run>();
    run->samples.resize(static_cast<std::size_t>(m_format.framesPerPacket) * m_format.channels);
    return [this, run] {
        m_generator(run->frames, run->samples);
        AppendLittleEndian(run->bytes, run->samples);
        if (m_callback)
            m_callback(run->bytes.data(), m_format.framesPerPacket, 0, m_format.channels);
        run->frames += m_format.framesPerPacket;
        ++m_packets;
    };
}

} // namespace ovled
