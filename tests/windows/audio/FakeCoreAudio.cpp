#include "tests/windows/audio/FakeCoreAudio.h"

#include <cstring>
#include <utility>

namespace ovled::test {

const GUID kFloatSubFormatGuid = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kPcmSubFormatGuid = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

HRESULT FakeCaptureClient::GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64*, UINT64*)
{
    std::lock_guard lock(m_mutex);
    if (m_packets.empty())
        return AUDCLNT_E_OUT_OF_ORDER;
    FakePacket& packet = m_packets.front();
    if (FAILED(packet.getBuffer))
        return packet.getBuffer;
    *data = packet.bytes.data();
    *frames = packet.reportNoFrames ? 0 : packet.frames;
    *flags = packet.flags;
    m_held = true;
    return packet.reportNoFrames ? AUDCLNT_S_BUFFER_EMPTY : S_OK;
}

HRESULT FakeCaptureClient::ReleaseBuffer(UINT32 frames)
{
    std::lock_guard lock(m_mutex);
    if (!m_held || m_packets.empty())
        return AUDCLNT_E_OUT_OF_ORDER;
    m_held = false;
    const HRESULT result = m_packets.front().release;
    m_released.push_back(frames);
    m_packets.pop_front();
    m_changed.notify_all();
    return result;
}

HRESULT FakeCaptureClient::GetNextPacketSize(UINT32* frames)
{
    std::lock_guard lock(m_mutex);
    if (m_packets.empty()) {
        *frames = 0;
        return m_emptyResult;
    }
    *frames = m_packets.front().frames;
    return S_OK;
}

void FakeCaptureClient::Push(FakePacket packet)
{
    std::lock_guard lock(m_mutex);
    m_packets.push_back(std::move(packet));
    if (m_pushEvent)
        SetEvent(m_pushEvent);
}

void FakeCaptureClient::SignalOnPush(HANDLE event)
{
    std::lock_guard lock(m_mutex);
    m_pushEvent = event;
}

HRESULT FakeAudioClient::SetEventHandle(HANDLE event)
{
    if (SUCCEEDED(eventHandleResult))
        m_capture.SignalOnPush(event);
    return eventHandleResult;
}

void FakeCaptureClient::FailNextPacketSizeWhenEmpty(HRESULT result)
{
    std::lock_guard lock(m_mutex);
    m_emptyResult = result;
}

bool FakeCaptureClient::WaitUntilDrained()
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_packets.empty(); });
}

std::vector<UINT32> FakeCaptureClient::Released()
{
    std::lock_guard lock(m_mutex);
    return m_released;
}

HRESULT FakeAudioClient::Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                    REFERENCE_TIME periodicity, const WAVEFORMATEX* format, LPCGUID session)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(format);
    initializations.push_back({mode, flags, duration, periodicity,
                               std::vector<BYTE>(bytes, bytes + sizeof(WAVEFORMATEX) + format->cbSize),
                               session != nullptr});
    return initializeResult;
}

HRESULT FakeAudioClient::GetMixFormat(WAVEFORMATEX** format)
{
    if (FAILED(mixFormatResult))
        return mixFormatResult;
    void* copy = CoTaskMemAlloc(mixFormat.size());
    std::memcpy(copy, mixFormat.data(), mixFormat.size());
    *format = static_cast<WAVEFORMATEX*>(copy);
    return S_OK;
}

HRESULT FakeAudioClient::GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimum)
{
    minimumPeriodAsked = minimum != nullptr;
    if (FAILED(periodResult))
        return periodResult;
    *defaultPeriod = period;
    return S_OK;
}

HRESULT FakeAudioClient::Start()
{
    ++starts;
    return startResult;
}

HRESULT FakeAudioClient::Stop()
{
    ++stops;
    return S_OK;
}

HRESULT FakeAudioClient::GetService(REFIID iid, void** out)
{
    *out = nullptr;
    if (FAILED(serviceResult))
        return serviceResult;
    return m_capture.QueryInterface(iid, out);
}

HRESULT FakeDevice::Activate(REFIID iid, DWORD, PROPVARIANT*, void** out)
{
    ++activations;
    *out = nullptr;
    if (FAILED(activateResult))
        return activateResult;
    return m_client.QueryInterface(iid, out);
}

FakeEndpoint::FakeEndpoint()
{
    client.mixFormat = FloatFormat(48000, 2);
}

bool FakeEndpoint::AllReleased() const
{
    return capture.Refs() == 1 && client.Refs() == 1 && device.Refs() == 1;
}

HRESULT FakeEnumerator::GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** device)
{
    std::lock_guard lock(m_mutex);
    *device = nullptr;
    ++(flow == eRender ? renderLookups : captureLookups);
    if (flow == eRender && m_coming && renderLookups >= m_comingAt)
        m_default[0] = std::exchange(m_coming, nullptr);
    FakeDevice* chosen = m_default[flow == eRender ? 0 : 1];
    if (!chosen)
        return HRESULT(0x80070490); // E_NOTFOUND
    chosen->AddRef();
    *device = chosen;
    return S_OK;
}

HRESULT FakeEnumerator::RegisterEndpointNotificationCallback(IMMNotificationClient* client)
{
    std::lock_guard lock(m_mutex);
    if (!client || m_client)
        return E_INVALIDARG;
    m_client = client;
    return S_OK;
}

HRESULT FakeEnumerator::UnregisterEndpointNotificationCallback(IMMNotificationClient* client)
{
    std::lock_guard lock(m_mutex);
    if (!client || client != m_client)
        return E_INVALIDARG;
    m_client = nullptr;
    return S_OK;
}

void FakeEnumerator::SetDefault(EDataFlow flow, FakeDevice* device, bool announce)
{
    std::lock_guard lock(m_mutex);
    m_default[flow == eRender ? 0 : 1] = device;
    if (announce && m_client) {
        for (ERole role : {eConsole, eMultimedia, eCommunications})
            m_client->OnDefaultDeviceChanged(flow, role, device ? L"{0.0.0.00000000}.{fake}" : nullptr);
    }
}

void FakeEnumerator::SetRenderDefaultAtLookup(FakeDevice* device, int lookup)
{
    std::lock_guard lock(m_mutex);
    m_coming = device;
    m_comingAt = lookup;
}

bool FakeEnumerator::HasClient()
{
    std::lock_guard lock(m_mutex);
    return m_client != nullptr;
}

namespace {

std::vector<BYTE> Bytes(const void* data, size_t size)
{
    const auto* bytes = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(bytes, bytes + size);
}

} // namespace

std::vector<BYTE> FloatFormat(DWORD rate, WORD channels)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = 32;
    format.nBlockAlign = static_cast<WORD>(channels * 4);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return Bytes(&format, sizeof format);
}

std::vector<BYTE> PcmFormat(DWORD rate, WORD channels)
{
    auto bytes = FloatFormat(rate, channels);
    auto* format = reinterpret_cast<WAVEFORMATEX*>(bytes.data());
    format->wFormatTag = WAVE_FORMAT_PCM;
    return bytes;
}

std::vector<BYTE> ExtensibleFormat(DWORD rate, WORD channels, const GUID& subFormat, DWORD channelMask)
{
    WAVEFORMATEXTENSIBLE format{};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = channels;
    format.Format.nSamplesPerSec = rate;
    format.Format.wBitsPerSample = 32;
    format.Format.nBlockAlign = static_cast<WORD>(channels * 4);
    format.Format.nAvgBytesPerSec = rate * format.Format.nBlockAlign;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = 32;
    format.dwChannelMask = channelMask;
    format.SubFormat = subFormat;
    return Bytes(&format, sizeof format);
}

std::vector<BYTE> CountingFrames(UINT32 frames, int first)
{
    std::vector<BYTE> bytes;
    for (UINT32 i = 0; i < frames * 2; ++i) {
        const auto sample = static_cast<std::uint16_t>(first + static_cast<int>(i));
        bytes.push_back(static_cast<BYTE>(sample & 0xFF));
        bytes.push_back(static_cast<BYTE>(sample >> 8));
    }
    return bytes;
}

} // namespace ovled::test
