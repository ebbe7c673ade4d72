// LoopbackCapture: records what the machine plays (Core Audio loopback of the default render endpoint,
// coerced to 16-bit PCM) and hands every packet to the data callback on a capture thread of its own,
// woken by the audio engine's buffer event where the system signals one (event-driven buffering: every
// capture endpoint, and loopback streams from Windows 10 on), else by a waitable timer at half the device
// period. Owned by MusicEffectDriver, which calls Start and
// Stop from its caller's thread and never both at once; the callback runs on the capture thread.
// Where the audio driver refuses loopback streams (Wine's drivers), the default capture endpoint is
// recorded instead, so a monitor source that is the default input still feeds the music colour.
// The capture follows the default endpoint: a change of it, or a stream that loses its endpoint, makes the
// capture thread open the new default (endpoint notifications arrive on Core Audio's threads and only
// wake the capture thread). With no usable endpoint it tries again twice a second until Stop.
#pragma once

#include "audio/AudioCapture.h"
#include "platform/win32/Unique.h"

#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <functional>

namespace ovled {

// The kernel and scheduler calls of capture, virtual so that a test can make one of them fail (setting
// the last error as Windows would). The defaults call Windows.
class CaptureKernel {
public:
    virtual ~CaptureKernel() = default;
    virtual HANDLE CreateStopEvent() noexcept;
    virtual HANDLE CreateTimer() noexcept;
    virtual BOOL ArmTimer(HANDLE timer, const LARGE_INTEGER& dueTime, LONG periodMs) noexcept;
    // Whether streams of this kind get event-driven buffering: the engine signals an event when a buffer
    // is ready, so a silent loopback stream wakes nobody and a capture stream wakes once a period instead
    // of twice. Loopback streams before Windows 10 accept the flag but are never signalled.
    virtual bool EventDriven(bool loopback) noexcept;
    virtual HANDLE CreateBufferEvent() noexcept;
    // Registers the calling thread with the multimedia class scheduler under the task "Capture".
    virtual HANDLE EnterCaptureClass(DWORD* taskIndex) noexcept;
    virtual void LeaveCaptureClass(HANDLE task) noexcept;
    virtual HANDLE CreateCaptureThread(LPTHREAD_START_ROUTINE procedure, void* parameter) noexcept;
    // Milliseconds of a monotonic clock: how long a capture endpoint's stream has been silent.
    virtual ULONGLONG TickCount() noexcept;
};

CaptureKernel& DefaultCaptureKernel() noexcept;

// Where endpoints are looked up: a new device enumerator on every call.
using EnumeratorSource = std::function<HRESULT(IMMDeviceEnumerator** enumerator)>;
HRESULT CreateSystemEnumerator(IMMDeviceEnumerator** enumerator) noexcept;

// Turns a float mix format into 16-bit integer PCM in place, keeping channels, rate and channel mask.
// Returns false, after printing why, for every other format.
bool CoerceToInt16(WAVEFORMATEX* format) noexcept;

class LoopbackCapture final : public IAudioCapture {
public:
    explicit LoopbackCapture(EnumeratorSource enumerators = CreateSystemEnumerator,
                             CaptureKernel& kernel = DefaultCaptureKernel());
    ~LoopbackCapture() override;
    LoopbackCapture(const LoopbackCapture&) = delete;
    LoopbackCapture& operator=(const LoopbackCapture&) = delete;

    void SetDataCallback(AudioDataCallback callback) override;
    // Creates the stop event, looks up the default render endpoint and starts the capture thread. Without
    // an endpoint it shows "get_default_device failed!" through the notifier; the thread then waits for one.
    bool Start() override;
    // Signals the stop event, waits for the capture thread (which has withdrawn its endpoint notifications
    // by then, so none comes after Stop), reports its outcome, and releases the handles. Does nothing when
    // Start made no thread.
    bool Stop() override;

    // Looks up the default render endpoint (on the calling thread, which has COM initialised).
    HRESULT GetDefaultRenderDevice(IMMDevice** device);

private:
    class EndpointWatch;
    struct Stream;
    enum class StreamEnd { Stopped, EndpointChanged, Silent, Failed };

    static DWORD WINAPI CaptureThread(void* parameter) noexcept;
    HRESULT CreateEnumerator(win32::ComPtr<IMMDeviceEnumerator>& enumerator);
    HRESULT GetDefaultEndpoint(IMMDeviceEnumerator* enumerator, EDataFlow flow, IMMDevice** device);
    HRESULT CaptureRun();
    HRESULT OpenDefaultStream(EndpointWatch& watch, HANDLE timer, Stream& stream);
    HRESULT PrepareClient(IMMDevice* device, win32::ComPtr<IAudioClient>& client, REFERENCE_TIME& period,
                          win32::UniqueCoTaskMem& format);
    HRESULT OpenStream(IAudioClient* client, win32::UniqueCoTaskMem& format, DWORD streamFlags, HANDLE bufferEvent,
                       win32::ComPtr<IAudioCaptureClient>& capture, bool& serviceRefused);
    // Prepares the endpoint's client and opens its stream, event-driven where the kernel says so and the
    // engine takes it, else on the timer.
    HRESULT OpenEndpointStream(IMMDevice* device, bool loopback, Stream& stream, REFERENCE_TIME& period,
                               bool& serviceRefused);
    StreamEnd Pump(Stream& stream, HANDLE changed, HANDLE timer, HRESULT& failure);
    HRESULT Drain(IAudioCaptureClient* capture);
    // Waits for the stop event, a change of endpoint or (with `timer`) the timer. Returns the index of the
    // handle that woke it (WAIT_TIMEOUT after `timeoutMs`), or prints why the wait failed and returns WAIT_FAILED.
    DWORD WaitForWork(HANDLE changed, HANDLE timer, DWORD timeoutMs);
    // CapturePrint, except while an outage that has been reported lasts (the retries would repeat it).
    void Report(const char* format, ...) noexcept
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    const EnumeratorSource m_enumerators;
    CaptureKernel& m_kernel;
    AudioDataCallback m_dataCallback;
    bool m_convertToInt16 = false;
    win32::UniqueHandle m_stopEvent;
    UINT32 m_framesCaptured = 0; // capture thread only
    UINT32 m_passes = 0;         // capture thread only: timer wake-ups of the run
    WORD m_channels = 0;         // capture thread only: samples per frame of the running stream
    bool m_quiet = false;        // set by Start, then capture thread only: an outage already reported
    HRESULT m_threadResult = E_UNEXPECTED;
    win32::UniqueHandle m_thread;
};

} // namespace ovled
