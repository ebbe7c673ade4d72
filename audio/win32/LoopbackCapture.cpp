#include "audio/win32/LoopbackCapture.h"

#include "audio/CaptureLog.h"
#include "audio/CaptureTimer.h"
#include "platform/Notifier.h"

#include <avrt.h>
#include <mmreg.h>

#include <cstring>
#include <utility>

namespace ovled {
namespace {

using win32::ComPtr;
using win32::HresultFromWin32;
using win32::UniqueCoTaskMem;
using win32::UniqueHandle;

// Sub-formats of WAVE_FORMAT_EXTENSIBLE, spelled out so that no GUID library is needed.
constexpr GUID kFloatSubFormat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kPcmSubFormat = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
// What WAVEFORMATEXTENSIBLE adds to WAVEFORMATEX.
constexpr WORD kExtensibleExtraBytes = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);

unsigned Hex(HRESULT hr) noexcept
{
    return static_cast<unsigned>(hr);
}

// Runs an action when the scope ends, on every path.
template <class Action> class OnExit {
public:
    explicit OnExit(Action action) noexcept : m_action(std::move(action)) {}
    ~OnExit() { m_action(); }
    OnExit(const OnExit&) = delete;
    OnExit& operator=(const OnExit&) = delete;

private:
    Action m_action;
};

} // namespace

HANDLE CaptureKernel::CreateStopEvent() noexcept
{
    return CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

HANDLE CaptureKernel::CreateTimer() noexcept
{
    return CreateWaitableTimerW(nullptr, FALSE, nullptr);
}

BOOL CaptureKernel::ArmTimer(HANDLE timer, const LARGE_INTEGER& dueTime, LONG periodMs) noexcept
{
    return SetWaitableTimer(timer, &dueTime, periodMs, nullptr, nullptr, FALSE);
}

HANDLE CaptureKernel::EnterCaptureClass(DWORD* taskIndex) noexcept
{
    return AvSetMmThreadCharacteristicsW(L"Capture", taskIndex);
}

void CaptureKernel::LeaveCaptureClass(HANDLE task) noexcept
{
    AvRevertMmThreadCharacteristics(task);
}

HANDLE CaptureKernel::CreateCaptureThread(LPTHREAD_START_ROUTINE procedure, void* parameter) noexcept
{
    return CreateThread(nullptr, 0, procedure, parameter, 0, nullptr);
}

CaptureKernel& DefaultCaptureKernel() noexcept
{
    static CaptureKernel kernel;
    return kernel;
}

HRESULT CreateSystemEnumerator(IMMDeviceEnumerator** enumerator) noexcept
{
    return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                            reinterpret_cast<void**>(enumerator));
}

bool CoerceToInt16(WAVEFORMATEX* format) noexcept
{
    switch (format->wFormatTag) {
    case WAVE_FORMAT_IEEE_FLOAT:
        format->wFormatTag = WAVE_FORMAT_PCM;
        break;
    case WAVE_FORMAT_EXTENSIBLE: {
        // A block too short to hold the extension is not read as one.
        auto* extensible = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(format);
        if (format->cbSize < kExtensibleExtraBytes ||
            std::memcmp(&extensible->SubFormat, &kFloatSubFormat, sizeof(GUID)) != 0) {
            CapturePrint("Don't know how to coerce mix format to int-16\n");
            return false;
        }
        extensible->SubFormat = kPcmSubFormat;
        extensible->Samples.wValidBitsPerSample = 16;
        break;
    }
    default:
        CapturePrint("Don't know how to coerce WAVEFORMATEX with wFormatTag = 0x%08x to int-16\n",
                     static_cast<unsigned>(format->wFormatTag));
        return false;
    }
    format->wBitsPerSample = 16;
    format->nBlockAlign = static_cast<WORD>(format->nChannels * format->wBitsPerSample / 8);
    format->nAvgBytesPerSec = format->nBlockAlign * format->nSamplesPerSec;
    return true;
}

LoopbackCapture::LoopbackCapture(EnumeratorSource enumerators, CaptureKernel& kernel)
    : m_enumerators(std::move(enumerators)), m_kernel(kernel)
{
}

LoopbackCapture::~LoopbackCapture()
{
    Stop();
}

void LoopbackCapture::SetDataCallback(AudioDataCallback callback)
{
    m_dataCallback = std::move(callback);
}

bool LoopbackCapture::Start()
{
    if (m_thread)
        return true; // already capturing; the owner stops before it starts again
    m_stopEvent.reset(m_kernel.CreateStopEvent());
    if (!m_stopEvent)
        CapturePrint("CreateEvent failed: last error is %u\n", static_cast<unsigned>(GetLastError()));
    m_threadResult = E_UNEXPECTED;

    if (FAILED(GetDefaultRenderDevice(m_device.put()))) {
        // Without an endpoint there is nothing to capture: no thread, and the next Stop has nothing to do.
        // The message must not block the caller (a service has nobody to dismiss a box).
        platform::Notifier().Notify(L"get_default_device failed!", L"ERROR");
        m_device.reset();
        m_stopEvent.reset();
        return true;
    }
    m_convertToInt16 = true;
    m_framesCaptured = 0;

    m_thread.reset(m_kernel.CreateCaptureThread(&LoopbackCapture::CaptureThread, this));
    if (!m_thread) {
        CapturePrint("CreateThread failed: last error is %u\n", static_cast<unsigned>(GetLastError()));
        m_stopEvent.reset();
        m_device.reset();
    }
    return true;
}

bool LoopbackCapture::Stop()
{
    if (!m_thread)
        return true;
    if (m_stopEvent)
        SetEvent(m_stopEvent.get());
    WaitForSingleObject(m_thread.get(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeThread(m_thread.get(), &code))
        CapturePrint("GetExitCodeThread failed: last error is %u\n", static_cast<unsigned>(GetLastError()));
    else if (code != 0)
        CapturePrint("Loopback capture thread exit code is %u; expected 0\n", static_cast<unsigned>(code));
    else if (m_threadResult != S_OK)
        CapturePrint("Thread HRESULT is 0x%08x\n", Hex(m_threadResult));
    m_thread.reset();
    m_stopEvent.reset();
    // The endpoint is looked up again at the next Start, so a new default output takes effect then.
    m_device.reset();
    return true;
}

HRESULT LoopbackCapture::GetDefaultRenderDevice(IMMDevice** device)
{
    return GetDefaultEndpoint(eRender, device);
}

HRESULT LoopbackCapture::GetDefaultEndpoint(EDataFlow flow, IMMDevice** device)
{
    ComPtr<IMMDeviceEnumerator> enumerator;
    HRESULT hr = m_enumerators(enumerator.put());
    if (FAILED(hr)) {
        CapturePrint("CoCreateInstance(IMMDeviceEnumerator) failed: hr = 0x%08x\n", Hex(hr));
        return hr;
    }
    hr = enumerator->GetDefaultAudioEndpoint(flow, eConsole, device);
    if (FAILED(hr)) {
        CapturePrint("IMMDeviceEnumerator::GetDefaultAudioEndpoint failed: hr = 0x%08x\n", Hex(hr));
        return hr;
    }
    return S_OK;
}

DWORD WINAPI LoopbackCapture::CaptureThread(void* parameter) noexcept
{
    auto* self = static_cast<LoopbackCapture*>(parameter);
    const HRESULT init = CoInitialize(nullptr);
    self->m_threadResult = init;
    if (FAILED(init)) {
        CapturePrint("CoInitialize failed: hr = 0x%08x\n", Hex(init));
        return 0;
    }
    try {
        self->m_threadResult = self->CaptureRun();
    } catch (...) {
        // A throwing data callback ends the run like any other failure of it.
        self->m_threadResult = E_UNEXPECTED;
    }
    CoUninitialize();
    return 0; // outcomes travel in m_threadResult
}

HRESULT LoopbackCapture::PrepareClient(IMMDevice* device, ComPtr<IAudioClient>& client, REFERENCE_TIME& period,
                                       UniqueCoTaskMem& format)
{
    HRESULT hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.put_void());
    if (FAILED(hr)) {
        CapturePrint("IMMDevice::Activate(IAudioClient) failed: hr = 0x%08x", Hex(hr));
        return hr;
    }
    hr = client->GetDevicePeriod(&period, nullptr);
    if (FAILED(hr)) {
        CapturePrint("IAudioClient::GetDevicePeriod failed: hr = 0x%08x\n", Hex(hr));
        return hr;
    }
    WAVEFORMATEX* mixFormat = nullptr;
    hr = client->GetMixFormat(&mixFormat);
    if (FAILED(hr)) {
        CapturePrint("IAudioClient::GetMixFormat failed: hr = 0x%08x\n", Hex(hr));
        return hr;
    }
    format.reset(mixFormat);
    if (m_convertToInt16 && !CoerceToInt16(mixFormat))
        return E_UNEXPECTED;
    return S_OK;
}

HRESULT LoopbackCapture::OpenStream(IAudioClient* client, UniqueCoTaskMem& format, DWORD streamFlags,
                                    ComPtr<IAudioCaptureClient>& capture, bool& serviceRefused)
{
    serviceRefused = false;
    // Buffer duration and periodicity 0: the engine chooses its own shared-mode buffer.
    const auto* waveFormat = static_cast<const WAVEFORMATEX*>(format.get());
    HRESULT hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED, streamFlags, 0, 0, waveFormat, nullptr);
    if (FAILED(hr)) {
        CapturePrint("IAudioClient::Initialize failed: hr = 0x%08x\n", Hex(hr));
        return hr;
    }
    m_channels = waveFormat->nChannels;
    format.reset();
    hr = client->GetService(__uuidof(IAudioCaptureClient), capture.put_void());
    if (FAILED(hr)) {
        CapturePrint("IAudioClient::GetService(IAudioCaptureClient) failed: hr 0x%08x\n", Hex(hr));
        serviceRefused = hr == AUDCLNT_E_WRONG_ENDPOINT_TYPE;
        return hr;
    }
    return S_OK;
}

HRESULT LoopbackCapture::CaptureRun()
{
    // Declared in the reverse order of their release: capture client, timer, audio client.
    ComPtr<IAudioClient> client;
    REFERENCE_TIME period = 0;
    UniqueCoTaskMem format;
    HRESULT hr = PrepareClient(m_device.get(), client, period, format);
    if (FAILED(hr))
        return hr;

    UniqueHandle timer(m_kernel.CreateTimer());
    if (!timer) {
        const DWORD error = GetLastError();
        CapturePrint("CreateWaitableTimer failed: last error = %u\n", static_cast<unsigned>(error));
        return HresultFromWin32(static_cast<long>(error));
    }
    m_framesCaptured = 0;

    ComPtr<IAudioCaptureClient> capture;
    bool serviceRefused = false;
    hr = OpenStream(client.get(), format, AUDCLNT_STREAMFLAGS_LOOPBACK, capture, serviceRefused);
    if (serviceRefused) {
        // The audio driver has no loopback streams. Its default input may well be a monitor of the output
        // (a PulseAudio monitor source), so that is the next best thing to record.
        CapturePrint("Loopback capture is not supported here; capturing the default capture endpoint instead\n");
        ComPtr<IMMDevice> input;
        hr = GetDefaultEndpoint(eCapture, input.put());
        if (FAILED(hr))
            return hr;
        client.reset();
        hr = PrepareClient(input.get(), client, period, format);
        if (FAILED(hr))
            return hr;
        hr = OpenStream(client.get(), format, 0, capture, serviceRefused);
    }
    if (FAILED(hr))
        return hr;

    DWORD taskIndex = 0;
    const HANDLE task = m_kernel.EnterCaptureClass(&taskIndex);
    if (!task) {
        const DWORD error = GetLastError();
        CapturePrint("AvSetMmThreadCharacteristics failed: last error = %u\n", static_cast<unsigned>(error));
        return HresultFromWin32(static_cast<long>(error));
    }
    const OnExit revertTask([&] { m_kernel.LeaveCaptureClass(task); });

    const CaptureTimerSchedule schedule = CaptureTimerFor(period);
    LARGE_INTEGER dueTime;
    dueTime.QuadPart = schedule.dueTime;
    if (!m_kernel.ArmTimer(timer.get(), dueTime, schedule.periodMs)) {
        const DWORD error = GetLastError();
        CapturePrint("SetWaitableTimer failed: last error = %u\n", static_cast<unsigned>(error));
        return HresultFromWin32(static_cast<long>(error));
    }

    hr = client->Start();
    if (FAILED(hr)) {
        CapturePrint("IAudioClient::Start failed: hr = 0x%08x\n", Hex(hr));
        return hr;
    }
    const OnExit stopStream([&] {
        client->Stop();
        CancelWaitableTimer(timer.get());
    });

    // The stop event comes first, so it wins when both are signalled.
    const HANDLE waitSet[2] = {m_stopEvent.get(), timer.get()};
    UINT32 passes = 0;
    for (;;) {
        // The first drain runs straight after the start; every timer wake-up drains whatever is pending.
        hr = Drain(capture.get(), passes);
        if (FAILED(hr))
            return hr;
        const DWORD woken = WaitForMultipleObjects(2, waitSet, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0) {
            CapturePrint("Received stop event after %u passes and %u frames\n", passes, m_framesCaptured);
            return hr;
        }
        if (woken != WAIT_OBJECT_0 + 1) {
            CapturePrint("Unexpected WaitForMultipleObjects return value %u on pass %u after %u frames\n",
                         static_cast<unsigned>(woken), passes, m_framesCaptured);
            return E_UNEXPECTED;
        }
        ++passes;
    }
}

HRESULT LoopbackCapture::Drain(IAudioCaptureClient* capture, UINT32 passes)
{
    UINT32 packetFrames = 0;
    HRESULT hr = capture->GetNextPacketSize(&packetFrames);
    while (SUCCEEDED(hr) && packetFrames > 0) {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        hr = capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
        if (FAILED(hr)) {
            CapturePrint("IAudioCaptureClient::GetBuffer failed on pass %u after %u frames: hr = 0x%08x\n", passes,
                         m_framesCaptured, Hex(hr));
            return hr;
        }
        if (frames == 0) {
            CapturePrint("IAudioCaptureClient::GetBuffer said to read 0 frames on pass %u after %u frames\n", passes,
                         m_framesCaptured);
            return E_UNEXPECTED;
        }
        m_dataCallback(data, frames, flags, m_channels);
        m_framesCaptured += frames;
        hr = capture->ReleaseBuffer(frames);
        if (FAILED(hr)) {
            CapturePrint("IAudioCaptureClient::ReleaseBuffer failed on pass %u after %u frames: hr = 0x%08x\n", passes,
                         m_framesCaptured, Hex(hr));
            return hr;
        }
        hr = capture->GetNextPacketSize(&packetFrames);
    }
    if (FAILED(hr)) {
        CapturePrint("IAudioCaptureClient::GetNextPacketSize failed on pass %u after %u frames: hr = 0x%08x\n", passes,
                     m_framesCaptured, Hex(hr));
    }
    return hr;
}

} // namespace ovled
