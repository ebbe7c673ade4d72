// Recorders and fakes shared by the music-mode tests: the colour output, the debug and capture message
// channels, and a capture source that the test drives by hand. All thread-safe: the colour thread and
// the capture thread write, the test reads.
#pragma once

#include "audio/AudioCapture.h"
#include "audio/CaptureLog.h"
#include "lighting/ColourOutput.h"
#include "platform/DebugOutput.h"
#include "tests/support/RecordingNotifier.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ovled::test {

struct ColourTick {
    std::vector<int> devices;
    Rgb colour;
};

class RecordingColourOutput final : public IColourOutput {
public:
    void Write(const EnabledDevices& devices, Rgb colour) noexcept override;
    std::vector<ColourTick> Ticks();
    ColourTick Last();
    size_t Count();

private:
    std::mutex m_mutex;
    std::vector<ColourTick> m_ticks;
};

class RecordingDebugOutput final : public platform::IDebugOutput {
public:
    RecordingDebugOutput() : m_install(*this) {}
    void Write(std::wstring_view text) noexcept override;
    std::vector<std::wstring> Lines();

private:
    std::mutex m_mutex;
    std::vector<std::wstring> m_lines;
    platform::ScopedDebugOutput m_install;
};

class RecordingCaptureLog final : public ICaptureLog {
public:
    RecordingCaptureLog() : m_install(*this) {}
    void Print(std::string_view text) noexcept override;
    std::vector<std::string> Messages();
    // Waits until `text` has been printed as one message. False after 10 s.
    bool WaitForMessage(std::string_view text);
    // Everything printed, run together as it would appear on standard output.
    std::string Text();

private:
    std::mutex m_mutex;
    std::condition_variable m_printed;
    std::vector<std::string> m_messages;
    ScopedCaptureLog m_install;
};

// A capture source that records Start and Stop and plays packets only when the test hands them over.
class HandCapture final : public IAudioCapture {
public:
    void SetDataCallback(AudioDataCallback callback) override;
    bool Start() override;
    bool Stop() override;
    // Calls the data callback as the capture thread would.
    void Play(const std::vector<std::uint8_t>& packet, std::uint32_t frames, std::uint16_t channels);
    int Starts();
    int Stops();
    // How often Start came while a previous Start had no Stop yet.
    int Overlaps();

private:
    std::mutex m_mutex;
    AudioDataCallback m_callback;
    int m_starts = 0;
    int m_stops = 0;
    int m_overlaps = 0;
    bool m_started = false;
};

} // namespace ovled::test
