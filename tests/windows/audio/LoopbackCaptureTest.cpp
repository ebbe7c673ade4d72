#include "audio/win32/LoopbackCapture.h"
#include "tests/support/AudioTestSupport.h"
#include "tests/windows/audio/FakeCoreAudio.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace ovled {
namespace {

using test::FakeEndpoint;
using test::FakeEnumerator;
using test::FakePacket;

constexpr DWORD kInvalidTaskName = 1550; // ERROR_INVALID_TASK_NAME, missing from mingw's headers

// Fails the kernel call that a test names, with the last error it gives; records the timer's arming.
class ScriptedKernel final : public CaptureKernel {
public:
    HANDLE CreateStopEvent() noexcept override
    {
        return Fail(stopEventError) ? nullptr : CaptureKernel::CreateStopEvent();
    }
    HANDLE CreateTimer() noexcept override { return Fail(timerError) ? nullptr : CaptureKernel::CreateTimer(); }
    BOOL ArmTimer(HANDLE timer, const LARGE_INTEGER& dueTime, LONG periodMs) noexcept override
    {
        armedDueTime = dueTime.QuadPart;
        armedPeriodMs = periodMs;
        return Fail(armError) ? FALSE : CaptureKernel::ArmTimer(timer, dueTime, periodMs);
    }
    HANDLE EnterCaptureClass(DWORD* taskIndex) noexcept override
    {
        taskIndexBefore = *taskIndex;
        if (Fail(taskError))
            return nullptr;
        ++tasks;
        return CaptureKernel::EnterCaptureClass(taskIndex);
    }
    void LeaveCaptureClass(HANDLE task) noexcept override
    {
        --tasks;
        CaptureKernel::LeaveCaptureClass(task);
    }
    HANDLE CreateCaptureThread(LPTHREAD_START_ROUTINE procedure, void* parameter) noexcept override
    {
        ++threads;
        return Fail(threadError) ? nullptr : CaptureKernel::CreateCaptureThread(procedure, parameter);
    }
    ULONGLONG TickCount() noexcept override { return ticks; }
    bool EventDriven(bool) noexcept override { return eventDriven; }
    bool eventDriven = false; // the timer, unless a test asks

    DWORD stopEventError = 0, timerError = 0, armError = 0, taskError = 0, threadError = 0;
    LONGLONG armedDueTime = 0;
    LONG armedPeriodMs = -1;
    DWORD taskIndexBefore = 99;
    std::atomic<int> tasks{0};
    std::atomic<int> threads{0};
    std::atomic<ULONGLONG> ticks{0}; // moved on by the test only

private:
    static bool Fail(DWORD error)
    {
        if (!error)
            return false;
        SetLastError(error);
        return true;
    }
};

// A packet as the data callback saw it.
struct CapturedPacket {
    std::vector<BYTE> bytes;
    UINT32 frames;
    DWORD flags;
    WORD channels;
};

// One capture with its own fake endpoints, kernel, message recorders and delivered packets.
class Rig {
public:
    Rig()
    {
        capture.SetDataCallback(
            [this](const std::uint8_t* data, std::uint32_t frames, std::uint32_t flags, std::uint16_t channels) {
                std::lock_guard lock(m_mutex);
                m_delivered.push_back({std::vector<BYTE>(data, data + frames * channels * 2), frames, flags, channels});
            });
    }
    ~Rig()
    {
        capture.Stop();
        EXPECT_TRUE(speakers.AllReleased());
        EXPECT_TRUE(microphone.AllReleased());
        EXPECT_TRUE(headphones.AllReleased());
        EXPECT_EQ(enumerator.Refs(), 1);
        EXPECT_FALSE(enumerator.HasClient()) << "the notification client is unregistered when Stop returns";
        EXPECT_EQ(kernel.tasks.load(), 0) << "every scheduler task is reverted";
    }

    // Starts, lets the capture thread run to its end or to its first wait, and stops it.
    std::string RunAndStop()
    {
        capture.Start();
        capture.Stop();
        return log.Text();
    }

    test::RecordingCaptureLog log;
    test::RecordingNotifier notifier;
    FakeEndpoint speakers;
    FakeEndpoint microphone;
    FakeEndpoint headphones; // not a default until a test makes it one
    FakeEnumerator enumerator{speakers.device, microphone.device};
    HRESULT enumeratorResult = S_OK;
    ScriptedKernel kernel;
    LoopbackCapture capture{[this](IMMDeviceEnumerator** out) {
                                if (FAILED(enumeratorResult))
                                    return enumeratorResult;
                                enumerator.AddRef();
                                *out = &enumerator;
                                return S_OK;
                            },
                            kernel};
    std::vector<CapturedPacket> Delivered()
    {
        std::lock_guard lock(m_mutex);
        return m_delivered;
    }

private:
    std::mutex m_mutex;
    std::vector<CapturedPacket> m_delivered;
};

const WAVEFORMATEX& FormatOf(const std::vector<BYTE>& bytes)
{
    return *reinterpret_cast<const WAVEFORMATEX*>(bytes.data());
}

TEST(LoopbackCapture, OpensASharedLoopbackStreamOfSixteenBitPcmInTheEnginesLayout)
{
    Rig rig;
    EXPECT_EQ(rig.RunAndStop(), "Received stop event after 0 passes and 0 frames\n");
    ASSERT_EQ(rig.speakers.client.initializations.size(), 1u);
    const auto& init = rig.speakers.client.initializations[0];
    EXPECT_EQ(init.mode, AUDCLNT_SHAREMODE_SHARED);
    EXPECT_EQ(init.flags, 0x00020000u);
    EXPECT_EQ(init.duration, 0);
    EXPECT_EQ(init.periodicity, 0);
    EXPECT_FALSE(init.session);
    const WAVEFORMATEX& format = FormatOf(init.format);
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 48000u);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.nAvgBytesPerSec, 192000u);
    EXPECT_FALSE(rig.speakers.client.minimumPeriodAsked);
    EXPECT_EQ(rig.speakers.client.starts, 1);
    EXPECT_EQ(rig.speakers.client.stops, 1);
    EXPECT_EQ(rig.kernel.taskIndexBefore, 0u);
    EXPECT_EQ(rig.microphone.device.activations, 0);
    EXPECT_TRUE(rig.notifier.Notes().empty());
}

TEST(LoopbackCapture, AnExtensibleFloatFormatBecomesExtensiblePcmWithItsChannelMask)
{
    Rig rig;
    rig.speakers.client.mixFormat = test::ExtensibleFormat(44100, 6, test::kFloatSubFormatGuid, 0x3F);
    EXPECT_EQ(rig.RunAndStop(), "Received stop event after 0 passes and 0 frames\n");
    ASSERT_EQ(rig.speakers.client.initializations.size(), 1u);
    const auto& bytes = rig.speakers.client.initializations[0].format;
    ASSERT_EQ(bytes.size(), sizeof(WAVEFORMATEXTENSIBLE));
    const auto& format = *reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(bytes.data());
    EXPECT_EQ(format.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_TRUE(IsEqualGUID(format.SubFormat, test::kPcmSubFormatGuid));
    EXPECT_EQ(format.Samples.wValidBitsPerSample, 16);
    EXPECT_EQ(format.Format.wBitsPerSample, 16);
    EXPECT_EQ(format.Format.nBlockAlign, 12);
    EXPECT_EQ(format.Format.nAvgBytesPerSec, 12u * 44100);
    EXPECT_EQ(format.dwChannelMask, 0x3Fu);
}

TEST(LoopbackCapture, MixFormatsThatAreNotFloatAreRefused)
{
    Rig rig;
    struct Case {
        std::vector<BYTE> format;
        const char* message;
    };
    const Case cases[] = {
        {test::PcmFormat(48000, 2), "Don't know how to coerce WAVEFORMATEX with wFormatTag = 0x00000001 to int-16\n"},
        {test::ExtensibleFormat(48000, 2, test::kPcmSubFormatGuid, 3),
         "Don't know how to coerce mix format to int-16\n"},
    };
    for (const Case& c : cases) {
        const size_t before = rig.log.Text().size();
        rig.speakers.client.mixFormat = c.format;
        rig.RunAndStop();
        EXPECT_EQ(rig.log.Text().substr(before), std::string(c.message) + "Thread HRESULT is 0x8000ffff\n");
    }
    EXPECT_TRUE(rig.speakers.client.initializations.empty());
}

TEST(LoopbackCapture, EachSetUpFailureIsReportedAndEndsTheRunWithItsResult)
{
    struct Case {
        const char* name;
        std::function<void(Rig&)> arrange;
        std::string message;
        bool streamStarted;
    };
    const Case cases[] = {
        {"activate", [](Rig& t) { t.speakers.device.activateResult = E_NOINTERFACE; },
         "IMMDevice::Activate(IAudioClient) failed: hr = 0x80004002Thread HRESULT is 0x80004002\n", false},
        {"period", [](Rig& t) { t.speakers.client.periodResult = E_FAIL; },
         "IAudioClient::GetDevicePeriod failed: hr = 0x80004005\nThread HRESULT is 0x80004005\n", false},
        {"mix format", [](Rig& t) { t.speakers.client.mixFormatResult = E_OUTOFMEMORY; },
         "IAudioClient::GetMixFormat failed: hr = 0x8007000e\nThread HRESULT is 0x8007000e\n", false},
        {"timer", [](Rig& t) { t.kernel.timerError = ERROR_NOT_ENOUGH_MEMORY; },
         "CreateWaitableTimer failed: last error = 8\nThread HRESULT is 0x80070008\n", false},
        {"initialize", [](Rig& t) { t.speakers.client.initializeResult = AUDCLNT_E_UNSUPPORTED_FORMAT; },
         "IAudioClient::Initialize failed: hr = 0x88890008\nThread HRESULT is 0x88890008\n", false},
        {"service", [](Rig& t) { t.speakers.client.serviceResult = E_NOINTERFACE; },
         "IAudioClient::GetService(IAudioCaptureClient) failed: hr 0x80004002\nThread HRESULT is 0x80004002\n", false},
        {"task", [](Rig& t) { t.kernel.taskError = kInvalidTaskName; },
         "AvSetMmThreadCharacteristics failed: last error = 1550\nThread HRESULT is 0x8007060e\n", false},
        {"arm", [](Rig& t) { t.kernel.armError = ERROR_INVALID_PARAMETER; },
         "SetWaitableTimer failed: last error = 87\nThread HRESULT is 0x80070057\n", false},
        {"start", [](Rig& t) { t.speakers.client.startResult = AUDCLNT_E_NOT_INITIALIZED; },
         "IAudioClient::Start failed: hr = 0x88890001\nThread HRESULT is 0x88890001\n", false},
        {"first packet size", [](Rig& t) { t.speakers.capture.FailNextPacketSizeWhenEmpty(E_FAIL); },
         "IAudioCaptureClient::GetNextPacketSize failed on pass 0 after 0 frames: hr = 0x80004005\n"
         "Thread HRESULT is 0x80004005\n",
         true},
    };
    for (const Case& c : cases) {
        Rig t;
        c.arrange(t);
        EXPECT_EQ(t.RunAndStop(), c.message) << c.name;
        EXPECT_EQ(t.speakers.client.stops, c.streamStarted ? 1 : 0) << c.name << ": the stream stops once it started";
        EXPECT_EQ(t.microphone.device.activations, 0) << c.name << ": no fallback";
    }
}

TEST(LoopbackCapture, PacketsReachTheCallbackInOrderWithTheirFlagsAndAreReleasedWhole)
{
    Rig rig;
    rig.speakers.capture.Push({test::CountingFrames(480, 0), 480, 0, S_OK, false, S_OK});
    rig.speakers.capture.Push({test::CountingFrames(480, 960), 480, AUDCLNT_BUFFERFLAGS_SILENT, S_OK, false, S_OK});
    rig.capture.Start();
    ASSERT_TRUE(rig.speakers.capture.WaitUntilDrained());
    // A later packet comes with a timer pass.
    rig.speakers.capture.Push(
        {test::CountingFrames(96, 5), 96, AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY, S_OK, false, S_OK});
    ASSERT_TRUE(rig.speakers.capture.WaitUntilDrained());
    rig.capture.Stop();

    std::smatch match;
    const std::string text = rig.log.Text();
    ASSERT_TRUE(
        std::regex_match(text, match, std::regex("Received stop event after ([0-9]+) passes and 1056 frames\n")))
        << text;
    EXPECT_GE(std::stoi(match[1]), 1);
    ASSERT_EQ(rig.Delivered().size(), 3u);
    EXPECT_EQ(rig.Delivered()[0].bytes, test::CountingFrames(480, 0));
    EXPECT_EQ(rig.Delivered()[1].bytes, test::CountingFrames(480, 960));
    EXPECT_EQ(rig.Delivered()[2].bytes, test::CountingFrames(96, 5));
    EXPECT_EQ(rig.Delivered()[0].flags, 0u);
    EXPECT_EQ(rig.Delivered()[1].flags, static_cast<DWORD>(AUDCLNT_BUFFERFLAGS_SILENT));
    EXPECT_EQ(rig.Delivered()[2].flags, static_cast<DWORD>(AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY));
    for (const auto& packet : rig.Delivered())
        EXPECT_EQ(packet.channels, 2);
    EXPECT_EQ(rig.speakers.capture.Released(), (std::vector<UINT32>{480, 480, 96}));
}

TEST(LoopbackCapture, BufferFailuresEndTheRunWithTheirPassAndFrameCount)
{
    struct Case {
        FakePacket second;
        std::string message;
    };
    const Case cases[] = {
        {{test::CountingFrames(480, 0), 480, 0, AUDCLNT_E_BUFFER_ERROR, false, S_OK},
         "IAudioCaptureClient::GetBuffer failed on pass 0 after 480 frames: hr = 0x88890018\n"
         "Thread HRESULT is 0x88890018\n"},
        {{test::CountingFrames(480, 0), 480, 0, S_OK, true, S_OK},
         "IAudioCaptureClient::GetBuffer said to read 0 frames on pass 0 after 480 frames\n"
         "Thread HRESULT is 0x8000ffff\n"},
        {{test::CountingFrames(480, 0), 480, 0, S_OK, false, AUDCLNT_E_INVALID_SIZE},
         "IAudioCaptureClient::ReleaseBuffer failed on pass 0 after 960 frames: hr = 0x88890009\n"
         "Thread HRESULT is 0x88890009\n"},
    };
    for (const Case& c : cases) {
        Rig t;
        t.speakers.capture.Push({test::CountingFrames(480, 0), 480, 0, S_OK, false, S_OK});
        t.speakers.capture.Push(c.second);
        EXPECT_EQ(t.RunAndStop(), c.message);
        EXPECT_EQ(t.speakers.client.stops, 1);
    }
}

TEST(LoopbackCapture, TheTimerIsArmedAtHalfTheDevicePeriod)
{
    Rig rig;
    rig.speakers.client.period = 30000;
    rig.RunAndStop();
    EXPECT_EQ(rig.kernel.armedDueTime, -15000);
    EXPECT_EQ(rig.kernel.armedPeriodMs, 1);

    rig.speakers.client.period = 100000;
    rig.RunAndStop();
    EXPECT_EQ(rig.kernel.armedDueTime, -50000);
    EXPECT_EQ(rig.kernel.armedPeriodMs, 5);
}

TEST(LoopbackCapture, EventDrivenStreamsNeedNoTimerAndARefusalFallsBackToIt)
{
    Rig rig;
    rig.kernel.eventDriven = true;
    rig.capture.Start();
    rig.speakers.capture.Push({test::CountingFrames(96, 0), 96, 0, S_OK, false, S_OK});
    ASSERT_TRUE(rig.speakers.capture.WaitUntilDrained()) << "the buffer event woke the capture thread";
    rig.capture.Stop();
    ASSERT_EQ(rig.speakers.client.initializations.size(), 1u);
    EXPECT_EQ(rig.speakers.client.initializations[0].flags,
              static_cast<DWORD>(AUDCLNT_STREAMFLAGS_LOOPBACK | AUDCLNT_STREAMFLAGS_EVENTCALLBACK));
    EXPECT_EQ(rig.kernel.armedPeriodMs, -1) << "no timer";

    Rig refused;
    refused.kernel.eventDriven = true;
    refused.speakers.client.eventHandleResult = E_NOTIMPL;
    refused.RunAndStop();
    ASSERT_EQ(refused.speakers.client.initializations.size(), 2u);
    EXPECT_EQ(refused.speakers.client.initializations[1].flags, static_cast<DWORD>(AUDCLNT_STREAMFLAGS_LOOPBACK));
    EXPECT_EQ(refused.kernel.armedPeriodMs, 5) << "the timer, at half the device period";
}

TEST(LoopbackCapture, WithoutARenderEndpointTheMessageDoesNotBlockAndTheFirstOneThatAppearsIsRecorded)
{
    Rig rig;
    rig.enumerator.SetDefault(eRender, nullptr);
    rig.capture.Start();
    EXPECT_EQ(rig.notifier.Notes(), (std::vector<std::wstring>{L"ERROR: get_default_device failed!"}));
    rig.speakers.capture.Push({test::CountingFrames(96, 0), 96, 0, S_OK, false, S_OK});
    rig.enumerator.SetDefault(eRender, &rig.speakers.device); // plugged in
    ASSERT_TRUE(rig.speakers.capture.WaitUntilDrained());
    rig.capture.Stop();

    // Without Core Audio at all nothing can appear: the run ends and Stop says why.
    rig.enumeratorResult = REGDB_E_CLASSNOTREG;
    rig.capture.Start();
    rig.capture.Stop();
    EXPECT_EQ(rig.log.Messages().back(), "Thread HRESULT is 0x80040154\n");
    EXPECT_EQ(rig.notifier.Notes().size(), 2u);
}

TEST(LoopbackCapture, EveryStartLooksTheEndpointUpAgainAndStopReleasesIt)
{
    Rig rig;
    rig.capture.Start();
    rig.capture.Stop();
    EXPECT_TRUE(rig.speakers.AllReleased());
    rig.capture.Start();
    rig.capture.Stop();
    EXPECT_EQ(rig.enumerator.renderLookups.load(), 4) << "Start's, for the message, and the capture thread's";
    EXPECT_EQ(rig.speakers.device.activations, 2);
}

TEST(LoopbackCapture, ANewDefaultOutputIsRecordedInsteadOfTheOldOne)
{
    Rig rig;
    rig.speakers.capture.Push({test::CountingFrames(96, 0), 96, 0, S_OK, false, S_OK});
    rig.capture.Start();
    ASSERT_TRUE(rig.speakers.capture.WaitUntilDrained());
    rig.headphones.capture.Push({test::CountingFrames(96, 3), 96, 0, S_OK, false, S_OK});
    rig.enumerator.SetDefault(eRender, &rig.headphones.device);
    ASSERT_TRUE(rig.headphones.capture.WaitUntilDrained());
    rig.capture.Stop();
    EXPECT_EQ(rig.speakers.client.stops, 1);
    EXPECT_EQ(rig.Delivered().at(1).bytes, test::CountingFrames(96, 3));
    EXPECT_TRUE(
        std::regex_match(rig.log.Text(), std::regex("The default audio endpoint changed; capturing the new one\n"
                                                    "Received stop event after [0-9]+ passes and 192 frames\n")))
        << rig.log.Text();
}

TEST(LoopbackCapture, ANewDefaultThatCannotBeCapturedIsWaitedOutUntilTheNextChange)
{
    Rig rig;
    rig.speakers.capture.Push({test::CountingFrames(96, 0), 96, 0, S_OK, false, S_OK});
    rig.capture.Start();
    ASSERT_TRUE(rig.speakers.capture.WaitUntilDrained());
    rig.headphones.client.mixFormat = test::PcmFormat(48000, 2);
    rig.enumerator.SetDefault(eRender, &rig.headphones.device);
    ASSERT_TRUE(rig.log.WaitForMessage("The default audio endpoint cannot be captured; waiting for another one\n"));
    rig.speakers.capture.Push({test::CountingFrames(96, 3), 96, 0, S_OK, false, S_OK});
    rig.enumerator.SetDefault(eRender, &rig.speakers.device);
    ASSERT_TRUE(rig.speakers.capture.WaitUntilDrained());
    rig.capture.Stop();
    EXPECT_EQ(rig.Delivered().at(1).bytes, test::CountingFrames(96, 3));
}

TEST(LoopbackCapture, AnInvalidatedStreamIsOpenedAgainOnTheDefaultWithoutSpinning)
{
    Rig rig;
    rig.speakers.capture.Push({test::CountingFrames(96, 0), 96, 0, S_OK, false, S_OK});
    rig.capture.Start();
    ASSERT_TRUE(rig.speakers.capture.WaitUntilDrained());
    const auto lost = std::chrono::steady_clock::now();
    // Unplugged, no output at all at the first retry, one at the second, unannounced (as under Wine).
    rig.headphones.capture.Push({test::CountingFrames(96, 3), 96, 0, S_OK, false, S_OK});
    rig.enumerator.SetDefault(eRender, nullptr, false);
    rig.enumerator.SetRenderDefaultAtLookup(&rig.headphones.device, 4);
    rig.speakers.capture.FailNextPacketSizeWhenEmpty(AUDCLNT_E_DEVICE_INVALIDATED);
    ASSERT_TRUE(rig.headphones.capture.WaitUntilDrained());
    const auto waitedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lost).count();
    rig.capture.Stop();
    EXPECT_LE(rig.enumerator.renderLookups.load(), 3 + waitedMs / 500) << "a lookup every half second at most";
    EXPECT_TRUE(std::regex_match(
        rig.log.Text(),
        std::regex("IAudioCaptureClient::GetNextPacketSize failed on pass [0-9]+ after 96 frames: hr = 0x88890004\n"
                   "No usable audio endpoint; looking again every 500 ms\n"
                   "Capturing again\n"
                   "Received stop event after [0-9]+ passes and 192 frames\n")))
        << rig.log.Text();
}

TEST(LoopbackCapture, ARefusedLoopbackStreamFallsBackToTheDefaultCaptureEndpoint)
{
    Rig rig;
    rig.speakers.client.serviceResult = AUDCLNT_E_WRONG_ENDPOINT_TYPE;
    rig.microphone.client.mixFormat = test::FloatFormat(44100, 1);
    rig.microphone.capture.Push({test::CountingFrames(441, 0), 441, 0, S_OK, false, S_OK});
    rig.capture.Start();
    ASSERT_TRUE(rig.microphone.capture.WaitUntilDrained());
    // A new default input (under Wine: a new default PulseAudio source) is followed as well.
    rig.headphones.capture.Push({test::CountingFrames(441, 0), 441, 0, S_OK, false, S_OK});
    rig.enumerator.SetDefault(eCapture, &rig.headphones.device);
    ASSERT_TRUE(rig.headphones.capture.WaitUntilDrained());
    rig.capture.Stop();
    const std::string refused =
        "IAudioClient::GetService\\(IAudioCaptureClient\\) failed: hr 0x88890003\n"
        "Loopback capture is not supported here; capturing the default capture endpoint instead\n";
    EXPECT_TRUE(std::regex_match(rig.log.Text(),
                                 std::regex(refused + "The default audio endpoint changed; capturing the new one\n" +
                                            refused + "Received stop event after [0-9]+ passes and 882 frames\n")))
        << rig.log.Text();
    ASSERT_EQ(rig.microphone.client.initializations.size(), 1u);
    EXPECT_EQ(rig.microphone.client.initializations[0].flags, 0u) << "a capture endpoint needs no loopback flag";
    EXPECT_EQ(FormatOf(rig.microphone.client.initializations[0].format).wFormatTag, WAVE_FORMAT_PCM);
    ASSERT_EQ(rig.Delivered().size(), 2u);
    EXPECT_EQ(rig.Delivered()[0].channels, 1) << "the fallback stream's own layout";
    EXPECT_EQ(rig.Delivered()[0].frames, 441u);
    EXPECT_EQ(rig.speakers.client.starts, 0);
}

TEST(LoopbackCapture, AFallbackWithoutACaptureEndpointWaitsForOne)
{
    Rig rig;
    rig.speakers.client.serviceResult = AUDCLNT_E_WRONG_ENDPOINT_TYPE;
    rig.enumerator.SetDefault(eCapture, nullptr);
    EXPECT_EQ(rig.RunAndStop(),
              "IAudioClient::GetService(IAudioCaptureClient) failed: hr 0x88890003\n"
              "Loopback capture is not supported here; capturing the default capture endpoint instead\n"
              "IMMDeviceEnumerator::GetDefaultAudioEndpoint failed: hr = 0x80070490\n"
              "No usable audio endpoint; looking again every 500 ms\n"
              "Received stop event after 0 passes and 0 frames\n");
}

TEST(LoopbackCapture, ACaptureEndpointThatFallsSilentIsOpenedAgain)
{
    for (const bool eventDriven : {false, true}) {
        SCOPED_TRACE(eventDriven ? "event-driven: its event stops coming" : "timer-driven");
        Rig rig;
        rig.kernel.eventDriven = eventDriven;
        rig.speakers.client.serviceResult = AUDCLNT_E_WRONG_ENDPOINT_TYPE;
        rig.microphone.capture.Push({test::CountingFrames(96, 0), 96, 0, S_OK, false, S_OK});
        rig.capture.Start();
        ASSERT_TRUE(rig.microphone.capture.WaitUntilDrained());
        // The source replaced without a word or an error, as Wine's PulseAudio driver may do.
        rig.headphones.capture.Push({test::CountingFrames(96, 3), 96, 0, S_OK, false, S_OK});
        rig.enumerator.SetDefault(eCapture, &rig.headphones.device, false);
        rig.kernel.ticks += 1000;
        ASSERT_TRUE(rig.headphones.capture.WaitUntilDrained());
        rig.capture.Stop();
        EXPECT_TRUE(std::regex_match(
            rig.log.Text(),
            std::regex(
                "IAudioClient::GetService\\(IAudioCaptureClient\\) failed: hr 0x88890003\n"
                "Loopback capture is not supported here; capturing the default capture endpoint instead\n"
                "No packet from the capture endpoint for 1000 ms on pass [0-9]+ after 96 frames; opening it again\n"
                "Received stop event after [0-9]+ passes and 192 frames\n")))
            << rig.log.Text() << "the new stream's set-up stays quiet";
    }
}

TEST(LoopbackCapture, WithoutAStopEventTheFirstWaitFailsAndEndsTheRun)
{
    Rig rig;
    rig.kernel.stopEventError = ERROR_NO_SYSTEM_RESOURCES;
    EXPECT_EQ(rig.RunAndStop(), "CreateEvent failed: last error is 1450\n"
                                "Unexpected WaitForMultipleObjects return value 4294967295 on pass 0 after 0 frames\n"
                                "Thread HRESULT is 0x8000ffff\n");
    EXPECT_EQ(rig.speakers.client.stops, 1);
}

TEST(LoopbackCapture, WithoutACaptureThreadStopHasNothingToDo)
{
    Rig rig;
    rig.kernel.threadError = ERROR_NOT_ENOUGH_MEMORY;
    EXPECT_EQ(rig.RunAndStop(), "CreateThread failed: last error is 8\n");
    EXPECT_EQ(rig.speakers.device.activations, 0);
}

TEST(LoopbackCapture, AThrowingCallbackEndsTheRunAndStopsTheStream)
{
    Rig rig;
    rig.capture.SetDataCallback([](const std::uint8_t*, std::uint32_t, std::uint32_t, std::uint16_t) {
        throw std::runtime_error("callback failed");
    });
    rig.speakers.capture.Push({test::CountingFrames(480, 0), 480, 0, S_OK, false, S_OK});
    EXPECT_EQ(rig.RunAndStop(), "Thread HRESULT is 0x8000ffff\n");
    EXPECT_EQ(rig.speakers.client.stops, 1);
}

} // namespace
} // namespace ovled
