#include "tools/soak/SoakClients.h"

#include "platform/Hresult.h"
#include "platform/win32/Unique.h"
#include "tools/LightControlClient.h"
#include "tools/soak/ServiceProbe.h"
#include "tools/soak/SoakClock.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

namespace ovled::soak {
namespace {

constexpr double kHangMillis = 5000;
constexpr DWORD kMonitorPeriodMillis = 20;
constexpr double kSamplePeriodMillis = 1000;
// How long the end waits for the threads' last calls before it counts them as hung.
constexpr DWORD kEndPatienceMillis = 2 * static_cast<DWORD>(kHangMillis);

struct CallRecord {
    double startEpochMillis;
    double millis;
    HRESULT result;
    char kind; // 'c' create, 'g' get, 's' set
    short index;
    short mode;
};

struct Shared {
    const SoakOptions& options;
    std::atomic<bool> stop{false};
    std::atomic<bool> hold{false};
    std::atomic<int> setsInFlight{0};
    // The hostile calls: made, refused with DISP_E_TYPEMISMATCH, answered S_OK, and the calls the
    // service made back into the objects passed.
    std::atomic<long> hostileCalls{0};
    std::atomic<long> hostileRefused{0};
    std::atomic<long> hostileAccepted{0};
    std::atomic<long> callbacks{0};
};

// The object a hostile call passes: coercing it to a number would call it; every such call is counted.
// It lives as long as its client thread, which is the apartment the service would call it in.
class BaitObject final : public IDispatch {
public:
    explicit BaitObject(std::atomic<long>& callbacks) noexcept : m_callbacks(callbacks) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IDispatch ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return Called(); }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return Called(); }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return Called(); }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) noexcept override
    {
        Called();
        if (result) { // a number, as a caller that wants its call to go through would answer
            VariantInit(result);
            result->vt = VT_I2;
            result->iVal = 0;
        }
        return S_OK;
    }

private:
    HRESULT Called() noexcept
    {
        ++m_callbacks;
        return E_NOTIMPL;
    }
    std::atomic<long>& m_callbacks;
};

// put ModeByIndex with `object` as the index.
HRESULT HostileSet(IDispatch& control, IDispatch& object)
{
    VARIANT arguments[2]; // reverse order: the value, then the index
    VariantInit(&arguments[0]);
    VariantInit(&arguments[1]);
    arguments[0].vt = VT_I2;
    arguments[0].iVal = 1;
    arguments[1].vt = VT_DISPATCH;
    arguments[1].pdispVal = &object;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{arguments, &named, 2, 1};
    UINT argumentError = 0;
    return control.Invoke(6 /* ModeByIndex */, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                          nullptr, &argumentError);
}

struct ClientThread {
    int number = 0;
    bool lateBound = false;
    bool singleThreaded = false;
    Shared* shared = nullptr;
    std::mutex mutex; // guards calls against the monitor's reading at the end
    std::vector<CallRecord> calls;
    std::atomic<double> callStartedMillis{0}; // monotonic; 0 while no call is in flight
    win32::UniqueHandle handle;
};

template <class Call>
HRESULT Timed(ClientThread& self, char kind, short index, short mode, Call&& call)
{
    const double epoch = EpochMillis();
    const double start = MonotonicMillis();
    self.callStartedMillis.store(start);
    const HRESULT result = call();
    const double millis = MonotonicMillis() - start;
    self.callStartedMillis.store(0);
    std::lock_guard lock(self.mutex);
    self.calls.push_back(CallRecord{epoch, millis, result, kind, index, mode});
    return result;
}

void PauseRandomly(ClientThread& self, std::mt19937& random)
{
    std::uniform_int_distribution<int> pause(0, self.shared->options.maxIntervalMillis);
    int left = pause(random);
    while (left > 0 && !self.shared->stop.load()) {
        const int slice = std::min(left, 50);
        Sleep(static_cast<DWORD>(slice));
        left -= slice;
    }
}

void RunClient(ClientThread& self)
{
    Shared& shared = *self.shared;
    const win32::ScopedComInit com(self.singleThreaded ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    std::mt19937 random(shared.options.seed * 7919u + static_cast<unsigned>(self.number));
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> device(-1, shared.options.strips - 1);
    std::uniform_int_distribution<int> mode(0, 2);
    std::unique_ptr<tools::LightControlClient> client;
    BaitObject bait(shared.callbacks);
    while (!shared.stop.load()) {
        PauseRandomly(self, random);
        if (shared.stop.load())
            break;
        if (!client) {
            (void)Timed(self, 'c', 0, 0, [&] { return tools::ConnectLightControl(self.lateBound, client); });
            continue;
        }
        const int roll = percent(random);
        HRESULT result = S_OK;
        // A set counts as in flight before the hold is looked at, so the monitor never reports "held"
        // while a set that missed the hold is still on its way.
        shared.setsInFlight.fetch_add(1);
        if (self.lateBound && roll >= 97 && !shared.hold.load()) {
            result = HostileSet(*client->Dispatch(), bait);
            shared.setsInFlight.fetch_sub(1);
            ++shared.hostileCalls;
            if (result == DISP_E_TYPEMISMATCH)
                ++shared.hostileRefused;
            else if (SUCCEEDED(result))
                ++shared.hostileAccepted;
        } else if (roll < 60 && !shared.hold.load()) {
            // One set in ten is the onboard-off command, one in ten the strips-off command.
            const short index = static_cast<short>(roll < 6 ? -2 : roll < 12 ? -3 : device(random));
            const short value = static_cast<short>(index < -1 ? 0 : mode(random));
            result = Timed(self, 's', index, value, [&] { return client->Set(index, value); });
            shared.setsInFlight.fetch_sub(1);
        } else {
            shared.setsInFlight.fetch_sub(1);
            const short index = static_cast<short>(device(random));
            short read = -1;
            result = Timed(self, 'g', index, 0, [&] { return client->Get(index, read); });
        }
        if (ServerWentAway(result)) // the next call creates a new object
            client.reset();
    }
}

DWORD WINAPI ClientThreadProc(void* parameter) noexcept
{
    try {
        RunClient(*static_cast<ClientThread*>(parameter));
    } catch (...) {
        // Out of memory for a record: the thread ends, and its calls so far still count.
    }
    return 0;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Touch(const std::wstring& path)
{
    const win32::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Follows "hold" and "stop", samples the service, and watches calls in flight. Returns the longest time a
// call was seen in flight (a call that never returns has no record of its own).
double Monitor(Shared& shared, std::vector<std::unique_ptr<ClientThread>>& threads)
{
    const SoakOptions& options = shared.options;
    const std::wstring folder = options.controlFolder + L"\\";
    std::ofstream samples(std::filesystem::path(folder + L"service.jsonl"), std::ios::app);
    const double start = MonotonicMillis();
    double nextSample = start;
    double longestInFlight = 0;
    bool held = false;
    while (!Exists(folder + L"stop") && MonotonicMillis() - start < options.maxSeconds * 1000.0) {
        const bool wantHold = Exists(folder + L"hold");
        shared.hold.store(wantHold);
        if (wantHold && !held && shared.setsInFlight.load() == 0) {
            Touch(folder + L"held");
            held = true;
        } else if (!wantHold && held) {
            DeleteFileW((folder + L"held").c_str());
            held = false;
        }
        const double now = MonotonicMillis();
        for (const auto& thread : threads) {
            const double started = thread->callStartedMillis.load();
            if (started > 0)
                longestInFlight = std::max(longestInFlight, now - started);
        }
        if (now >= nextSample) {
            samples << SampleJson(ProbeService(options.serviceName), EpochMillis()) << '\n' << std::flush;
            nextSample += kSamplePeriodMillis;
        }
        Sleep(kMonitorPeriodMillis);
    }
    DeleteFileW((folder + L"held").c_str());
    return longestInFlight;
}

struct Figures {
    std::map<std::string, long> made;   // by kind of client
    std::map<std::string, long> failed; // by HRESULT
    long calls = 0;
    long failures = 0;
    long hangs = 0;
    double slowest = 0;
};

std::string ClientKind(const ClientThread& thread)
{
    return std::string(thread.lateBound ? "late" : "early") + (thread.singleThreaded ? "-sta" : "-mta");
}

void WriteCalls(const std::wstring& path, std::vector<std::unique_ptr<ClientThread>>& threads, Figures& figures)
{
    std::FILE* out = _wfopen(path.c_str(), L"w");
    if (out)
        std::fprintf(out, "start_epoch_ms,thread,kind,index,mode,ms,hresult\n");
    for (const auto& thread : threads) {
        std::lock_guard lock(thread->mutex);
        for (const CallRecord& call : thread->calls) {
            ++figures.calls;
            ++figures.made[ClientKind(*thread)];
            figures.slowest = std::max(figures.slowest, call.millis);
            if (call.millis > kHangMillis)
                ++figures.hangs;
            if (FAILED(call.result)) {
                ++figures.failures;
                char code[16];
                std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(call.result));
                ++figures.failed[code];
            }
            if (out)
                std::fprintf(out, "%.1f,%d,%c,%d,%d,%.3f,0x%08lX\n", call.startEpochMillis, thread->number, call.kind,
                             call.index, call.mode, call.millis, static_cast<unsigned long>(call.result));
        }
    }
    if (out)
        std::fclose(out);
}

void PrintMap(const char* name, const std::map<std::string, long>& values)
{
    std::printf("\"%s\":{", name);
    bool first = true;
    for (const auto& [key, count] : values) {
        std::printf("%s\"%s\":%ld", first ? "" : ",", key.c_str(), count);
        first = false;
    }
    std::printf("}");
}

} // namespace

int RunSoakClients(const SoakOptions& options)
{
    Shared shared{options};
    std::vector<std::unique_ptr<ClientThread>> threads;
    for (int i = 0; i < options.threads; ++i) {
        auto thread = std::make_unique<ClientThread>();
        thread->number = i;
        thread->lateBound = (i % 2) == 1;
        thread->singleThreaded = i < options.threads / 2;
        thread->shared = &shared;
        thread->handle.reset(CreateThread(nullptr, 0, ClientThreadProc, thread.get(), 0, nullptr));
        if (!thread->handle) {
            std::fprintf(stderr, "ovledsoak: thread %d could not start (error %lu)\n", i, GetLastError());
            shared.stop.store(true);
        }
        threads.push_back(std::move(thread));
    }
    double longestInFlight = shared.stop.load() ? 0 : Monitor(shared, threads);
    shared.stop.store(true);

    // Threads still inside a call after the patience are hung: their calls so far are written, the
    // process ends without them.
    long stuck = 0;
    const ULONGLONG deadline = GetTickCount64() + kEndPatienceMillis;
    for (const auto& thread : threads) {
        if (!thread->handle)
            continue;
        const ULONGLONG now = GetTickCount64();
        const DWORD wait = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (WaitForSingleObject(thread->handle.get(), wait) != WAIT_OBJECT_0) {
            ++stuck;
            const double started = thread->callStartedMillis.load();
            if (started > 0)
                longestInFlight = std::max(longestInFlight, MonotonicMillis() - started);
        }
    }

    Figures figures;
    WriteCalls(options.controlFolder + L"\\calls.csv", threads, figures);
    figures.hangs += stuck;
    figures.slowest = std::max(figures.slowest, longestInFlight);
    std::printf("{\"threads\":%d,\"calls\":%ld,\"failed\":%ld,\"hangs\":%ld,\"stuck_threads\":%ld,"
                "\"slowest_ms\":%.1f,",
                options.threads, figures.calls, figures.failures, figures.hangs, stuck, figures.slowest);
    PrintMap("made_by_client", figures.made);
    std::printf(",");
    PrintMap("failed_by_hresult", figures.failed);
    std::printf(",\"hostile\":{\"calls\":%ld,\"refused\":%ld,\"accepted\":%ld,\"callbacks\":%ld}}\n",
                shared.hostileCalls.load(), shared.hostileRefused.load(), shared.hostileAccepted.load(),
                shared.callbacks.load());
    std::fflush(stdout);
    if (stuck)
        ExitProcess(0); // the hung threads cannot be joined; the figures are out
    return 0;
}

} // namespace ovled::soak
