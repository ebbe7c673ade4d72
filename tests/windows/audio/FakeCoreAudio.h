// Fake Core Audio objects for the loopback capture tests: an enumerator with a default render and a
// default capture endpoint (either may change, announced to a registered notification client or not),
// each endpoint with its audio client and capture client, every call scriptable (results, formats,
// packets) and recorded. Reference counts start at 1 (the test's own) and must come back to 1 once the
// capture has released what it took. The capture thread calls them; the test scripts and reads them.
#pragma once

#include "platform/win32/Unique.h"

#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace ovled::test {

template <class Interface> class FakeUnknown : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_refs); }
    long Refs() const { return m_refs; }

private:
    std::atomic<long> m_refs{1};
};

struct FakePacket {
    std::vector<BYTE> bytes;
    UINT32 frames = 0;
    DWORD flags = 0;
    HRESULT getBuffer = S_OK;    // GetBuffer's result for this packet
    bool reportNoFrames = false; // GetBuffer says 0 frames although a packet is pending
    HRESULT release = S_OK;
};

class FakeCaptureClient final : public FakeUnknown<IAudioCaptureClient> {
public:
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64*, UINT64*) override;
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override;
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override;

    void Push(FakePacket packet);
    // Signalled with every packet pushed from now on (null: none).
    void SignalOnPush(HANDLE event);
    // GetNextPacketSize fails with `result` once the pending packets are gone.
    void FailNextPacketSizeWhenEmpty(HRESULT result);
    // Waits until every pushed packet has been released. False after 10 s.
    bool WaitUntilDrained();
    std::vector<UINT32> Released();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<FakePacket> m_packets;
    std::vector<UINT32> m_released;
    HRESULT m_emptyResult = S_OK;
    HANDLE m_pushEvent = nullptr;
    bool m_held = false;
};

class FakeAudioClient final : public FakeUnknown<IAudioClient> {
public:
    explicit FakeAudioClient(FakeCaptureClient& capture) : m_capture(capture) {}

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                         LPCGUID session) override;
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override;
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimum) override;
    HRESULT STDMETHODCALLTYPE Start() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    // Event-driven buffering: the capture client signals the event with every packet pushed.
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override;
    HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** out) override;

    // Script.
    HRESULT periodResult = S_OK;
    REFERENCE_TIME period = 100000;
    HRESULT mixFormatResult = S_OK;
    std::vector<BYTE> mixFormat; // handed out as a CoTaskMem copy
    HRESULT initializeResult = S_OK;
    HRESULT serviceResult = S_OK;
    HRESULT startResult = S_OK;
    HRESULT eventHandleResult = S_OK;

    // Record.
    struct Initialization {
        AUDCLNT_SHAREMODE mode;
        DWORD flags;
        REFERENCE_TIME duration, periodicity;
        std::vector<BYTE> format;
        bool session;
    };
    std::vector<Initialization> initializations;
    int starts = 0;
    int stops = 0;
    bool minimumPeriodAsked = false;

private:
    FakeCaptureClient& m_capture;
};

class FakeDevice final : public FakeUnknown<IMMDevice> {
public:
    explicit FakeDevice(FakeAudioClient& client) : m_client(client) {}
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD context, PROPVARIANT* parameters, void** out) override;
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD*) override { return E_NOTIMPL; }

    HRESULT activateResult = S_OK;
    int activations = 0;

private:
    FakeAudioClient& m_client;
};

// One endpoint: device, audio client and capture client.
struct FakeEndpoint {
    FakeEndpoint();
    FakeCaptureClient capture;
    FakeAudioClient client{capture};
    FakeDevice device{client};
    // Every reference the capture took has been given back.
    bool AllReleased() const;
};

// Holds one notification client at a time, without a reference of its own (as Windows does), and calls
// it under its lock, so no call reaches a client after its unregistration has returned.
class FakeEnumerator final : public FakeUnknown<IMMDeviceEnumerator> {
public:
    FakeEnumerator(FakeDevice& render, FakeDevice& capture) : m_default{&render, &capture} {}
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** device) override;
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override;
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override;

    // Makes `device` the default of `flow` (null: there is none, lookups answer E_NOTFOUND) and, when
    // `announce`, tells the registered client for every role, on the calling thread, as Windows does.
    void SetDefault(EDataFlow flow, FakeDevice* device, bool announce = true);
    // Makes `device` the default render endpoint, unannounced, when the `lookup`th lookup of it comes.
    void SetRenderDefaultAtLookup(FakeDevice* device, int lookup);
    bool HasClient();

    std::atomic<int> renderLookups{0};
    std::atomic<int> captureLookups{0};

private:
    std::mutex m_mutex;
    FakeDevice* m_default[2]; // by EDataFlow: eRender, eCapture
    IMMNotificationClient* m_client = nullptr;
    FakeDevice* m_coming = nullptr;
    int m_comingAt = 0;
};

// Mix formats as an audio engine hands them out.
std::vector<BYTE> FloatFormat(DWORD rate, WORD channels);
std::vector<BYTE> PcmFormat(DWORD rate, WORD channels);
std::vector<BYTE> ExtensibleFormat(DWORD rate, WORD channels, const GUID& subFormat, DWORD channelMask);
extern const GUID kFloatSubFormatGuid;
extern const GUID kPcmSubFormatGuid;

// Bytes of `frames` stereo 16-bit frames counting up from `first`.
std::vector<BYTE> CountingFrames(UINT32 frames, int first);

} // namespace ovled::test
