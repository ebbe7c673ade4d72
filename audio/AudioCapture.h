// IAudioCapture: a source of audio packets for the music effect (loopback capture of the default output
// on Windows, a synthetic source in tests and benchmarks). Owned by MusicEffectDriver, which installs
// the data callback once and calls Start and Stop from its caller's thread, never both at once. The
// callback runs on the source's own thread, packet by packet, never concurrently with itself.
#pragma once

#include <cstdint>
#include <functional>

namespace ovled {

// (first frame, frame count, the packet's buffer flags, samples per frame). The samples are interleaved
// signed 16-bit little-endian PCM; the pointer is valid only during the call.
using AudioDataCallback = std::function<void(const std::uint8_t* data, std::uint32_t frameCount, std::uint32_t flags,
                                             std::uint16_t channels)>;

class IAudioCapture {
public:
    virtual ~IAudioCapture() = default;
    virtual void SetDataCallback(AudioDataCallback callback) = 0;
    // Starts capturing without waiting for the stream to run. Failures are reported on the source's own
    // channel; the result is always true.
    virtual bool Start() = 0;
    // Ends capturing and returns once the capture thread has ended. Always true.
    virtual bool Stop() = 0;
};

} // namespace ovled
