#include "audio/MusicEffectDriver.h"

namespace ovled {

MusicEffectDriver::MusicEffectDriver(std::unique_ptr<IAudioCapture> capture, std::unique_ptr<IColourOutput> output,
                                     platform::IWaitClock& clock, platform::IThreadSessions& sessions)
    : m_output(std::move(output)), m_effect(std::make_unique<EasyEffect>(*m_output, clock, sessions)),
      m_capture(std::move(capture))
{
    // Buffer flags are not used: a silent packet analyses to silence anyway.
    m_capture->SetDataCallback(
        [effect = m_effect.get()](const std::uint8_t* data, std::uint32_t frameCount, std::uint32_t,
                                  std::uint16_t channels) { effect->UpdateBands(data, frameCount, channels); });
}

MusicEffectDriver::~MusicEffectDriver()
{
    Stop();
}

void MusicEffectDriver::EnableDevice(int deviceIndex)
{
    std::lock_guard lock(m_mutex);
    m_effect->EnableDevice(deviceIndex);
}

void MusicEffectDriver::DisableDevice(int deviceIndex)
{
    std::lock_guard lock(m_mutex);
    m_effect->DisableDevice(deviceIndex);
}

void MusicEffectDriver::Start()
{
    std::lock_guard lock(m_mutex);
    if (m_running)
        return;
    m_running = true;
    (void)m_capture->Start();
    m_effect->StartColorThread();
}

void MusicEffectDriver::Stop()
{
    std::lock_guard lock(m_mutex);
    if (!m_running)
        return;
    m_running = false;
    (void)m_capture->Stop();
    m_effect->StopColorThread();
}

bool MusicEffectDriver::IsRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

} // namespace ovled
