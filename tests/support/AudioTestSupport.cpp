#include "tests/support/AudioTestSupport.h"

#include <algorithm>
#include <chrono>

namespace ovled::test {

void RecordingColourOutput::Write(const EnabledDevices& devices, Rgb colour) noexcept
{
    std::lock_guard lock(m_mutex);
    m_ticks.push_back({std::vector<int>(devices.Indices().begin(), devices.Indices().end()), colour});
}

std::vector<ColourTick> RecordingColourOutput::Ticks()
{
    std::lock_guard lock(m_mutex);
    return m_ticks;
}

ColourTick RecordingColourOutput::Last()
{
    std::lock_guard lock(m_mutex);
    return m_ticks.empty() ? ColourTick{} : m_ticks.back();
}

size_t RecordingColourOutput::Count()
{
    std::lock_guard lock(m_mutex);
    return m_ticks.size();
}

void RecordingDebugOutput::Write(std::wstring_view text) noexcept
{
    std::lock_guard lock(m_mutex);
    m_lines.emplace_back(text);
}

std::vector<std::wstring> RecordingDebugOutput::Lines()
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

void RecordingCaptureLog::Print(std::string_view text) noexcept
{
    {
        std::lock_guard lock(m_mutex);
        m_messages.emplace_back(text);
    }
    m_printed.notify_all();
}

bool RecordingCaptureLog::WaitForMessage(std::string_view text)
{
    std::unique_lock lock(m_mutex);
    return m_printed.wait_for(lock, std::chrono::seconds(10), [&] {
        return std::find(m_messages.begin(), m_messages.end(), text) != m_messages.end();
    });
}

std::vector<std::string> RecordingCaptureLog::Messages()
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::string RecordingCaptureLog::Text()
{
    std::lock_guard lock(m_mutex);
    std::string all;
    for (const auto& message : m_messages)
        all += message;
    return all;
}

void HandCapture::SetDataCallback(AudioDataCallback callback)
{
    std::lock_guard lock(m_mutex);
    m_callback = std::move(callback);
}

bool HandCapture::Start()
{
    std::lock_guard lock(m_mutex);
    ++m_starts;
    if (m_started)
        ++m_overlaps;
    m_started = true;
    return true;
}

bool HandCapture::Stop()
{
    std::lock_guard lock(m_mutex);
    ++m_stops;
    m_started = false;
    return true;
}

void HandCapture::Play(const std::vector<std::uint8_t>& packet, std::uint32_t frames, std::uint16_t channels)
{
    AudioDataCallback callback;
    {
        std::lock_guard lock(m_mutex);
        callback = m_callback;
    }
    callback(packet.data(), frames, 0, channels);
}

int HandCapture::Starts()
{
    std::lock_guard lock(m_mutex);
    return m_starts;
}

int HandCapture::Stops()
{
    std::lock_guard lock(m_mutex);
    return m_stops;
}

int HandCapture::Overlaps()
{
    std::lock_guard lock(m_mutex);
    return m_overlaps;
}

} // namespace ovled::test
