#include "audio/win32/LoopbackCapture.h"

#include "audio/CaptureLog.h"
#include "audio/CaptureTimer.h"
#include "platform/Notifier.h"
#include "platform/win32/SystemLibrary.h"

#include <mmreg.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <new>
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

// Without a usable endpoint the capture thread looks again this often (a lookup costs about a millisecond),
// so an endpoint that comes back without a notification (Wine reports none) is recorded within half a second.
constexpr DWORD kRetryMs = 500;
// A capture endpoint's stream delivers packets all the time, silence included; one that has delivered
// nothing for this long has lost its source without saying so (Wine's PulseAudio driver, when the source
// goes away, may report AUDCLNT_E_DEVICE_INVALIDATED or simply go quiet, and a stream opened while the
// source comes back may never deliver), so it is opened again. Loopback streams are exempt: they deliver
// nothing while nothing plays.
constexpr ULONGLONG kSilentSourceMs = 1000;

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

// Failures that say the endpoint cannot be used now but may be soon: it was removed, disabled or
// invalidated, is being set up or torn down, is held in exclusive mode, or the audio service restarts (as
// it does around sleep). The capture waits for a usable default instead of ending.
bool EndpointUnavailable(HRESULT hr) noexcept
{
    switch (hr) {
    case AUDCLNT_E_DEVICE_INVALIDATED:
    case AUDCLNT_E_ENDPOINT_CREATE_FAILED:
    case AUDCLNT_E_DEVICE_IN_USE:
    case AUDCLNT_E_SERVICE_NOT_RUNNING:
    case HRESULT(0x80070490): // ERROR_NOT_FOUND: an endpoint that has gone
        return true;
    default:
        return false;
    }
}

// Receives the endpoint notifications. Core Audio calls it on threads of its own, until the registration is
// withdrawn, so it only sets its own event: it never blocks, never calls Core Audio, and keeps the event for
// as long as anyone holds a reference.
class EndpointNotifications final : public IMMNotificationClient {
public:
    // Null when the event cannot be made (the last error says why) or memory runs out.
    static ComPtr<EndpointNotifications> Create() noexcept
    {
        UniqueHandle changed(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!changed)
            return nullptr;
        auto* created = new (std::nothrow) EndpointNotifications(std::move(changed));
        if (!created)
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return ComPtr<EndpointNotifications>::Attach(created);
    }
    HANDLE Changed() const noexcept { return m_changed.get(); }
    // Whether a new default capture endpoint concerns the run (it records that endpoint instead of loopback).
    void FollowCaptureDefault(bool follow) noexcept { m_followCapture = follow; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override
    {
        if (!out)
            return E_POINTER;
        if (iid != __uuidof(IUnknown) && iid != __uuidof(IMMNotificationClient)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IMMNotificationClient*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        const ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) noexcept override
    {
        // Each role is reported on its own; the capture records the console role's endpoint.
        if (role == eConsole && (flow == eRender || (flow == eCapture && m_followCapture)))
            SetEvent(m_changed.get());
        return S_OK;
    }
    // A removed or disabled endpoint's stream answers AUDCLNT_E_DEVICE_INVALIDATED, which the capture
    // thread sees at its next drain; these say nothing more that it needs.
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) noexcept override { return S_OK; }

private:
    explicit EndpointNotifications(UniqueHandle changed) noexcept : m_changed(std::move(changed)) {}
    ~EndpointNotifications() = default;

    std::atomic<ULONG> m_refs{1};
    std::atomic<bool> m_followCapture{false};
    const UniqueHandle m_changed;
};

} // namespace

// The run's enumerator with the notifications registered on it. Capture thread only: the registration is
// made and withdrawn in the thread's own apartment, and withdrawn before the thread ends, so Stop (which
// waits for the thread) returns with no registration left and no callback to come.
class LoopbackCapture::EndpointWatch {
public:
    explicit EndpointWatch(ComPtr<EndpointNotifications> notifications) noexcept
        : m_notifications(std::move(notifications))
    {
    }
    ~EndpointWatch()
    {
        if (m_registered)
            m_enumerator->UnregisterEndpointNotificationCallback(m_notifications.get());
    }
    EndpointWatch(const EndpointWatch&) = delete;
    EndpointWatch& operator=(const EndpointWatch&) = delete;

    EndpointNotifications& Notifications() const noexcept { return *m_notifications.get(); }
    // The enumerator, made at the first call that can make it (a missing one is tried again at each lookup).
    HRESULT Enumerator(LoopbackCapture& capture, IMMDeviceEnumerator** enumerator)
    {
        if (!m_enumerator) {
            const HRESULT hr = capture.CreateEnumerator(m_enumerator);
            if (FAILED(hr))
                return hr;
            const HRESULT registered = m_enumerator->RegisterEndpointNotificationCallback(m_notifications.get());
            // Without notifications a stream that loses its endpoint still fails and is opened again.
            m_registered = SUCCEEDED(registered);
            if (!m_registered)
                capture.Report("IMMDeviceEnumerator::RegisterEndpointNotificationCallback failed: hr = 0x%08x\n",
                               Hex(registered));
        }
        *enumerator = m_enumerator.get();
        return S_OK;
    }

private:
    const ComPtr<EndpointNotifications> m_notifications;
    ComPtr<IMMDeviceEnumerator> m_enumerator;
    bool m_registered = false;
};

// One open stream: started, and stopped (with its timer) when it goes.
struct LoopbackCapture::Stream {
    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream()
    {
        if (started) {
            client->Stop();
            if (!bufferEvent)
                CancelWaitableTimer(timer);
        }
    }
    // Declared in the reverse order of their release: capture client, audio client.
    ComPtr<IAudioClient> client;
    ComPtr<IAudioCaptureClient> capture;
    bool fromCaptureEndpoint = false;
    HANDLE timer = nullptr;
    UniqueHandle bufferEvent; // event-driven streams: the engine signals it, and no timer runs
    bool started = false;
    HANDLE Wake() const noexcept { return bufferEvent ? bufferEvent.get() : timer; }
};

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

bool CaptureKernel::EventDriven(bool loopback) noexcept
{
    if (!loopback)
        return true;
    // The version as the system has it, whatever the executable's manifest says.
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    static const GetVersion getVersion = win32::SystemFunction<GetVersion>(L"ntdll.dll", "RtlGetVersion");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    return getVersion && getVersion(&version) == 0 && version.dwMajorVersion >= 10;
}

HANDLE CaptureKernel::CreateBufferEvent() noexcept
{
    return CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

// avrt.dll's functions, from System32 (platform/win32/SystemLibrary.h).
HANDLE CaptureKernel::EnterCaptureClass(DWORD* taskIndex) noexcept
{
    using Enter = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
    static const Enter enter = win32::SystemFunction<Enter>(L"avrt.dll", "AvSetMmThreadCharacteristicsW");
    if (!enter) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return enter(L"Capture", taskIndex);
}

void CaptureKernel::LeaveCaptureClass(HANDLE task) noexcept
{
    using Leave = BOOL(WINAPI*)(HANDLE);
    static const Leave leave = win32::SystemFunction<Leave>(L"avrt.dll", "AvRevertMmThreadCharacteristics");
    if (leave)
        leave(task);
}

HANDLE CaptureKernel::CreateCaptureThread(LPTHREAD_START_ROUTINE procedure, void* parameter) noexcept
{
    return CreateThread(nullptr, 0, procedure, parameter, 0, nullptr);
}

ULONGLONG CaptureKernel::TickCount() noexcept
{
    return GetTickCount64();
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

    // Only for the message: the capture thread looks the endpoint up itself, after it has registered for
    // changes, so no change between the two goes unnoticed.
    ComPtr<IMMDevice> device;
    m_quiet = FAILED(GetDefaultRenderDevice(device.put()));
    if (m_quiet) {
        // The message must not block the caller (a service has nobody to dismiss a box). The capture
        // thread still starts: it records the first default endpoint that appears (headphones plugged in,
        // an audio service that comes up after the lighting service).
        platform::Notifier().Notify(L"get_default_device failed!", L"ERROR");
    }
    m_convertToInt16 = true;
    m_framesCaptured = 0;

    m_thread.reset(m_kernel.CreateCaptureThread(&LoopbackCapture::CaptureThread, this));
    if (!m_thread) {
        CapturePrint("CreateThread failed: last error is %u\n", static_cast<unsigned>(GetLastError()));
        m_stopEvent.reset();
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
    return true;
}

HRESULT LoopbackCapture::GetDefaultRenderDevice(IMMDevice** device)
{
    ComPtr<IMMDeviceEnumerator> enumerator;
    const HRESULT hr = CreateEnumerator(enumerator);
    return FAILED(hr) ? hr : GetDefaultEndpoint(enumerator.get(), eRender, device);
}

HRESULT LoopbackCapture::CreateEnumerator(ComPtr<IMMDeviceEnumerator>& enumerator)
{
    const HRESULT hr = m_enumerators(enumerator.put());
    if (FAILED(hr))
        Report("CoCreateInstance(IMMDeviceEnumerator) failed: hr = 0x%08x\n", Hex(hr));
    return hr;
}

HRESULT LoopbackCapture::GetDefaultEndpoint(IMMDeviceEnumerator* enumerator, EDataFlow flow, IMMDevice** device)
{
    const HRESULT hr = enumerator->GetDefaultAudioEndpoint(flow, eConsole, device);
    if (FAILED(hr))
        Report("IMMDeviceEnumerator::GetDefaultAudioEndpoint failed: hr = 0x%08x\n", Hex(hr));
    return hr;
}

void LoopbackCapture::Report(const char* format, ...) noexcept
{
    if (m_quiet)
        return;
    va_list arguments;
    va_start(arguments, format);
    CaptureVPrint(format, arguments);
    va_end(arguments);
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
        Report("IMMDevice::Activate(IAudioClient) failed: hr = 0x%08x", Hex(hr));
        return hr;
    }
    hr = client->GetDevicePeriod(&period, nullptr);
    if (FAILED(hr)) {
        Report("IAudioClient::GetDevicePeriod failed: hr = 0x%08x\n", Hex(hr));
        return hr;
    }
    WAVEFORMATEX* mixFormat = nullptr;
    hr = client->GetMixFormat(&mixFormat);
    if (FAILED(hr)) {
        Report("IAudioClient::GetMixFormat failed: hr = 0x%08x\n", Hex(hr));
        return hr;
    }
    format.reset(mixFormat);
    if (m_convertToInt16 && !CoerceToInt16(mixFormat))
        return E_UNEXPECTED;
    return S_OK;
}

HRESULT LoopbackCapture::OpenStream(IAudioClient* client, UniqueCoTaskMem& format, DWORD streamFlags,
                                    HANDLE bufferEvent, ComPtr<IAudioCaptureClient>& capture, bool& serviceRefused)
{
    serviceRefused = false;
    if (bufferEvent)
        streamFlags |= AUDCLNT_STREAMFLAGS_EVENTCALLBACK;
    // Buffer duration and periodicity 0: the engine chooses its own shared-mode buffer.
    const auto* waveFormat = static_cast<const WAVEFORMATEX*>(format.get());
    HRESULT hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED, streamFlags, 0, 0, waveFormat, nullptr);
    if (FAILED(hr)) {
        Report("IAudioClient::Initialize failed: hr = 0x%08x\n", Hex(hr));
        return hr;
    }
    if (bufferEvent && FAILED(hr = client->SetEventHandle(bufferEvent))) {
        Report("IAudioClient::SetEventHandle failed: hr = 0x%08x\n", Hex(hr));
        return hr;
    }
    m_channels = waveFormat->nChannels;
    format.reset();
    hr = client->GetService(__uuidof(IAudioCaptureClient), capture.put_void());
    if (FAILED(hr)) {
        Report("IAudioClient::GetService(IAudioCaptureClient) failed: hr 0x%08x\n", Hex(hr));
        serviceRefused = hr == AUDCLNT_E_WRONG_ENDPOINT_TYPE;
        return hr;
    }
    return S_OK;
}

HRESULT LoopbackCapture::OpenEndpointStream(IMMDevice* device, bool loopback, Stream& stream, REFERENCE_TIME& period,
                                            bool& serviceRefused)
{
    const DWORD flags = loopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0;
    UniqueCoTaskMem format;
    HRESULT hr = S_OK;
    if (m_kernel.EventDriven(loopback)) {
        stream.bufferEvent.reset(m_kernel.CreateBufferEvent());
        if (stream.bufferEvent) {
            hr = PrepareClient(device, stream.client, period, format);
            if (SUCCEEDED(hr))
                hr = OpenStream(stream.client.get(), format, flags, stream.bufferEvent.get(), stream.capture,
                                serviceRefused);
            if (SUCCEEDED(hr) || serviceRefused || EndpointUnavailable(hr))
                return hr;
            // The engine refused event-driven buffering for this stream: a client of its own on the timer.
            stream.capture.reset();
            stream.client.reset();
            stream.bufferEvent.reset();
        }
    }
    hr = PrepareClient(device, stream.client, period, format);
    if (SUCCEEDED(hr))
        hr = OpenStream(stream.client.get(), format, flags, nullptr, stream.capture, serviceRefused);
    return hr;
}

HRESULT LoopbackCapture::OpenDefaultStream(EndpointWatch& watch, HANDLE timer, Stream& stream)
{
    IMMDeviceEnumerator* enumerator = nullptr;
    ComPtr<IMMDevice> render;
    HRESULT hr = watch.Enumerator(*this, &enumerator);
    if (SUCCEEDED(hr))
        hr = GetDefaultEndpoint(enumerator, eRender, render.put());
    if (FAILED(hr))
        return hr;
    REFERENCE_TIME period = 0;
    bool serviceRefused = false;
    hr = OpenEndpointStream(render.get(), true, stream, period, serviceRefused);
    watch.Notifications().FollowCaptureDefault(serviceRefused);
    if (serviceRefused) {
        // The audio driver has no loopback streams. Its default input may well be a monitor of the output
        // (a PulseAudio monitor source), so that is the next best thing to record.
        Report("Loopback capture is not supported here; capturing the default capture endpoint instead\n");
        ComPtr<IMMDevice> input;
        hr = watch.Enumerator(*this, &enumerator);
        if (SUCCEEDED(hr))
            hr = GetDefaultEndpoint(enumerator, eCapture, input.put());
        if (FAILED(hr))
            return hr;
        stream.capture.reset();
        stream.client.reset();
        stream.bufferEvent.reset();
        hr = OpenEndpointStream(input.get(), false, stream, period, serviceRefused);
        stream.fromCaptureEndpoint = true;
    }
    if (FAILED(hr))
        return hr;

    const CaptureTimerSchedule schedule = CaptureTimerFor(period);
    LARGE_INTEGER dueTime;
    dueTime.QuadPart = schedule.dueTime;
    if (!stream.bufferEvent && !m_kernel.ArmTimer(timer, dueTime, schedule.periodMs)) {
        const DWORD error = GetLastError();
        Report("SetWaitableTimer failed: last error = %u\n", static_cast<unsigned>(error));
        return HresultFromWin32(static_cast<long>(error));
    }
    hr = stream.client->Start();
    if (FAILED(hr)) {
        Report("IAudioClient::Start failed: hr = 0x%08x\n", Hex(hr));
        return hr;
    }
    stream.timer = timer;
    stream.started = true;
    return S_OK;
}

DWORD LoopbackCapture::WaitForWork(HANDLE changed, HANDLE timer, DWORD timeoutMs)
{
    // The stop event comes first, so it wins when several are signalled.
    const HANDLE waitSet[3] = {m_stopEvent.get(), changed, timer};
    const DWORD woken = WaitForMultipleObjects(timer ? 3 : 2, waitSet, FALSE, timeoutMs);
    if (woken == WAIT_OBJECT_0)
        CapturePrint("Received stop event after %u passes and %u frames\n", m_passes, m_framesCaptured);
    else if (woken != WAIT_OBJECT_0 + 1 && woken != WAIT_OBJECT_0 + 2 && woken != WAIT_TIMEOUT) {
        CapturePrint("Unexpected WaitForMultipleObjects return value %u on pass %u after %u frames\n",
                     static_cast<unsigned>(woken), m_passes, m_framesCaptured);
        return WAIT_FAILED;
    }
    return woken;
}

LoopbackCapture::StreamEnd LoopbackCapture::Pump(Stream& stream, HANDLE changed, HANDLE timer, HRESULT& failure)
{
    ULONGLONG lastPacket = m_kernel.TickCount();
    for (;;) {
        // The first drain runs straight after the start; every timer wake-up drains whatever is pending.
        const UINT32 framesBefore = m_framesCaptured;
        failure = Drain(stream.capture.get());
        if (FAILED(failure))
            return StreamEnd::Failed;
        const ULONGLONG now = m_kernel.TickCount();
        if (m_framesCaptured != framesBefore) {
            lastPacket = now;
            m_quiet = false; // a silent source has come back
        } else if (stream.fromCaptureEndpoint && now - lastPacket >= kSilentSourceMs) {
            if (!m_quiet)
                CapturePrint("No packet from the capture endpoint for %u ms on pass %u after %u frames; opening it "
                             "again\n",
                             static_cast<unsigned>(now - lastPacket), m_passes, m_framesCaptured);
            // Said once; the new streams stay quiet until one delivers.
            m_quiet = true;
            return StreamEnd::Silent;
        }
        // A capture endpoint's buffer event may simply stop coming when its source goes away: the wait
        // ends in time to notice the silence. (The timer wakes a timer-driven stream well before.)
        const DWORD patience = stream.fromCaptureEndpoint ? static_cast<DWORD>(kSilentSourceMs) : INFINITE;
        switch (WaitForWork(changed, timer, patience)) {
        case WAIT_OBJECT_0:
            return StreamEnd::Stopped;
        case WAIT_OBJECT_0 + 1:
            return StreamEnd::EndpointChanged;
        case WAIT_OBJECT_0 + 2:
        case WAIT_TIMEOUT:
            ++m_passes;
            break;
        default:
            failure = E_UNEXPECTED;
            return StreamEnd::Failed;
        }
    }
}

HRESULT LoopbackCapture::CaptureRun()
{
    UniqueHandle timer(m_kernel.CreateTimer());
    if (!timer) {
        const DWORD error = GetLastError();
        CapturePrint("CreateWaitableTimer failed: last error = %u\n", static_cast<unsigned>(error));
        return HresultFromWin32(static_cast<long>(error));
    }
    DWORD taskIndex = 0;
    const HANDLE task = m_kernel.EnterCaptureClass(&taskIndex);
    if (!task) {
        const DWORD error = GetLastError();
        CapturePrint("AvSetMmThreadCharacteristics failed: last error = %u\n", static_cast<unsigned>(error));
        return HresultFromWin32(static_cast<long>(error));
    }
    const OnExit revertTask([&] { m_kernel.LeaveCaptureClass(task); });
    ComPtr<EndpointNotifications> notifications = EndpointNotifications::Create();
    if (!notifications) {
        const DWORD error = GetLastError();
        CapturePrint("CreateEvent failed: last error is %u\n", static_cast<unsigned>(error));
        return HresultFromWin32(static_cast<long>(error));
    }
    const HANDLE changed = notifications->Changed();
    EndpointWatch watch(std::move(notifications));
    m_framesCaptured = 0;
    m_passes = 0;

    bool waiting = false;         // for an endpoint: looking again every kRetryMs
    bool waitingForChange = false; // for the default to change: this one's stream cannot be opened
    bool captured = false;         // a stream has run in this run
    for (;;) {
        if (waiting || waitingForChange) {
            const DWORD woken = WaitForWork(changed, nullptr, waitingForChange ? INFINITE : kRetryMs);
            if (woken == WAIT_OBJECT_0)
                return S_OK;
            if (woken == WAIT_FAILED)
                return E_UNEXPECTED;
        }
        // Only a change after this lookup concerns the stream about to open.
        ResetEvent(changed);
        HRESULT hr = S_OK;
        StreamEnd end = StreamEnd::Failed;
        bool opened = false;
        {
            Stream stream;
            hr = OpenDefaultStream(watch, timer.get(), stream);
            opened = SUCCEEDED(hr);
            if (opened) {
                if (waiting || waitingForChange) {
                    CapturePrint("Capturing again\n");
                    m_quiet = false;
                }
                waiting = waitingForChange = false;
                captured = true;
                end = Pump(stream, changed, stream.Wake(), hr);
            }
        }
        if (end == StreamEnd::Stopped)
            return S_OK;
        if (end == StreamEnd::EndpointChanged) {
            CapturePrint("The default audio endpoint changed; capturing the new one\n");
            continue;
        }
        if (end == StreamEnd::Silent)
            continue; // at once: a stream lives a second before it counts as silent, so this cannot spin
        if (!EndpointUnavailable(hr)) {
            // The first endpoint's stream would fail the same way again, and the run ends. One that a change
            // of the default brought (a format that cannot be captured) may be followed by a usable one.
            if (!captured || opened)
                return hr;
            if (!waitingForChange)
                CapturePrint("The default audio endpoint cannot be captured; waiting for another one\n");
            waitingForChange = true;
            waiting = false;
            continue;
        }
        waitingForChange = false;
        if (!waiting) {
            // Said once; the retries stay quiet until a stream runs again.
            CapturePrint("No usable audio endpoint; looking again every %u ms\n", static_cast<unsigned>(kRetryMs));
            m_quiet = true;
            waiting = true;
        }
    }
}
HRESULT LoopbackCapture::Drain(IAudioCaptureClient* capture)
{
    const UINT32 passes = m_passes;
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
