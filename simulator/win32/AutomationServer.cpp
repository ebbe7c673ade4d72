// VirtualAcpiServer.exe: the virtual board's automation server, registered under the ProgID
// "bivorCom.axdata". A plain IDispatch (no type library) with the eight methods the service calls by
// name; every call goes to the shared board. It keeps running between calls (a restart under Wine
// costs a second or more) until its stop event is set. Calls arrive on the server's RPC threads (the
// multithreaded apartment); the shared board's mutex serialises the firmware, as a real server must
// when the service's threads call it at once.
//   VirtualAcpiServer.exe              serve (COM starts it with -Embedding)
//   VirtualAcpiServer.exe /RegServer   register beside its own path; /UnregServer removes it
#include "platform/win32/Unique.h"
#include "simulator/BoardModel.h"
#include "simulator/win32/ServerRegistration.h"
#include "simulator/win32/SharedBoardStore.h"

#include <oaidl.h>
#include <objbase.h>
#include <shellapi.h>

#include <array>
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace ovled::sim {
namespace {

// Dispatch ids are the methods' order, from 1.
DISPID DispatchIdOf(Method method)
{
    return static_cast<DISPID>(method) + 1;
}

std::optional<std::uint32_t> Scalar(const VARIANT& argument)
{
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&argument), 0, VT_UI4)))
        return std::nullopt;
    return converted.ulVal;
}

ULONG* UnsignedReference(const VARIANT& argument)
{
    return argument.vt == (VT_BYREF | VT_UI4) || argument.vt == (VT_BYREF | VT_I4) ? argument.pulVal : nullptr;
}

// The byte array inside a VT_BYREF|VT_VARIANT argument, and the length beside it.
struct ByteBuffer {
    VARIANT* array = nullptr;
    ULONG* length = nullptr;

    std::vector<std::uint8_t> Sent() const
    {
        std::vector<std::uint8_t> bytes;
        SAFEARRAY* data = array->parray;
        LONG lower = 0, upper = -1;
        if (!data || SafeArrayGetElemsize(data) != 1 || FAILED(SafeArrayGetLBound(data, 1, &lower)) ||
            FAILED(SafeArrayGetUBound(data, 1, &upper)) || upper < lower)
            return bytes;
        const ULONG count = std::min<ULONG>(*length, static_cast<ULONG>(upper - lower) + 1);
        win32::SafeArrayDataLock lock(data);
        if (lock)
            bytes.assign(static_cast<const std::uint8_t*>(lock.data()),
                         static_cast<const std::uint8_t*>(lock.data()) + count);
        return bytes;
    }

    // Replaces the caller's array with the reply and sets the length to its size.
    bool Reply(const std::vector<std::uint8_t>& bytes) const
    {
        SAFEARRAY* replacement = SafeArrayCreateVector(VT_I1, 0, static_cast<ULONG>(bytes.size()));
        if (!replacement)
            return false;
        if (!bytes.empty()) {
            win32::SafeArrayDataLock lock(replacement);
            if (lock)
                std::memcpy(lock.data(), bytes.data(), bytes.size());
        }
        VariantClear(array);
        array->vt = VT_ARRAY | VT_I1;
        array->parray = replacement;
        *length = static_cast<ULONG>(bytes.size());
        return true;
    }
};

std::optional<ByteBuffer> Buffer(const VARIANT& array, const VARIANT& length)
{
    if (array.vt != (VT_BYREF | VT_VARIANT) || !array.pvarVal || !(array.pvarVal->vt & VT_ARRAY))
        return std::nullopt;
    ULONG* size = UnsignedReference(length);
    if (!size)
        return std::nullopt;
    return ByteBuffer{array.pvarVal, size};
}

class AcpiServerObject final : public IDispatch {
public:
    // `counted`: the instance is a client's (the board counts clients' instances, not the server's own).
    explicit AcpiServerObject(BoardModel& board, bool counted = true) : m_board(board), m_counted(counted)
    {
        if (m_counted)
            m_board.CountServerInstance(+1);
    }
    ~AcpiServerObject()
    {
        try {
            if (m_counted)
                m_board.CountServerInstance(-1);
        } catch (...) {
        }
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!names || !ids || count == 0)
            return E_INVALIDARG;
        m_board.CountNameLookup();
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        for (std::uint32_t m = 0; m < kMethodCount && names[0]; ++m) {
            const char* name = MethodName(static_cast<Method>(m));
            wchar_t wide[32] = {};
            for (std::size_t c = 0; name[c] && c + 1 < std::size(wide); ++c)
                wide[c] = static_cast<wchar_t>(name[c]);
            if (_wcsicmp(names[0], wide) == 0)
                ids[0] = DispatchIdOf(static_cast<Method>(m));
        }
        // Named parameters are not offered.
        return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO* exception, UINT*) override
    {
        try {
            const HRESULT hr = Dispatch(id, flags, parameters, result);
            if (hr == DISP_E_EXCEPTION && exception) {
                *exception = EXCEPINFO{};
                exception->scode = E_FAIL;
            }
            return hr;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

private:
    HRESULT Dispatch(DISPID id, WORD flags, DISPPARAMS* parameters, VARIANT* result)
    {
        if (!(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        if (!parameters)
            return E_INVALIDARG;
        if (parameters->cNamedArgs)
            return DISP_E_NONAMEDARGS;
        const UINT count = parameters->cArgs;
        // Arguments arrive last-first.
        auto argument = [&](UINT i) -> const VARIANT& { return parameters->rgvarg[count - 1 - i]; };
        std::array<std::uint16_t, 4> kinds{};
        for (UINT i = 0; i < count && i < kinds.size(); ++i)
            kinds[i] = argument(i).vt;
        BoardModel::NoteArgumentKinds(std::span<const std::uint16_t>(kinds.data(), std::min<UINT>(count, 4)));
        const std::optional<bool> done = Call(static_cast<Method>(id - 1), count, argument);
        BoardModel::NoteArgumentKinds({});
        if (!done)
            return id < 1 || id > static_cast<DISPID>(kMethodCount) ? DISP_E_MEMBERNOTFOUND : DISP_E_TYPEMISMATCH;
        if (result) {
            VariantClear(result);
            result->vt = VT_UI4;
            result->ulVal = *done && !m_board.With([](BoardState& state) { return state.faults.answersZero != 0; });
        }
        return *done ? S_OK : DISP_E_EXCEPTION;
    }

    // The method's outcome, or nothing when the arguments are not what the method takes.
    template <class Argument>
    std::optional<bool> Call(Method method, UINT count, Argument argument)
    {
        static constexpr UINT kArguments[kMethodCount] = {0, 2, 3, 3, 3, 2, 3, 3};
        const auto index = static_cast<std::uint32_t>(method);
        if (index >= kMethodCount || count != kArguments[index])
            return std::nullopt;
        std::optional<std::uint32_t> first, second, third;
        std::optional<ByteBuffer> buffer;
        std::vector<std::uint8_t> reply;
        switch (method) {
        case Method::Init:
            return m_board.Init();
        case Method::GetItem: {
            first = Scalar(argument(0));
            ULONG* out = UnsignedReference(argument(1));
            if (!first || !out)
                return std::nullopt;
            std::uint32_t value = 0;
            const bool ok = m_board.GetItem(*first, value);
            if (ok)
                *out = value;
            return ok;
        }
        case Method::GetItemEx: {
            first = Scalar(argument(0));
            second = Scalar(argument(1));
            ULONG* out = UnsignedReference(argument(2));
            if (!first || !second || !out)
                return std::nullopt;
            std::uint32_t value = 0;
            const bool ok = m_board.GetItemEx(*first, *second, value);
            if (ok)
                *out = value;
            return ok;
        }
        case Method::SetItem:
            first = Scalar(argument(0));
            second = Scalar(argument(1));
            third = Scalar(argument(2));
            if (!first || !second || !third)
                return std::nullopt;
            return m_board.SetItem(*first, *second, *third);
        case Method::Mbif:
            buffer = Buffer(argument(0), argument(1));
            if (!buffer)
                return std::nullopt;
            return m_board.Mbif(buffer->Sent(), reply) && buffer->Reply(reply);
        default: // the three buffer methods with a leading scalar
            first = Scalar(argument(0));
            buffer = Buffer(argument(1), argument(2));
            if (!first || !buffer)
                return std::nullopt;
            const std::vector<std::uint8_t> sent = buffer->Sent();
            bool ok = false;
            if (method == Method::GGrp)
                ok = m_board.GroupList(*first, sent, reply);
            else if (method == Method::CallMethod)
                ok = m_board.Describe(*first, sent, reply);
            else
                ok = m_board.SetItemBuffer(*first, sent, reply);
            return ok && buffer->Reply(reply);
        }
    }

    std::atomic<ULONG> m_references{1};
    BoardModel& m_board;
    const bool m_counted;
};

class ServerFactory final : public IClassFactory {
public:
    explicit ServerFactory(BoardModel& board) : m_board(board) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory lives as long as the process: no counting.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        try {
            auto* server = new AcpiServerObject(m_board);
            const HRESULT hr = server->QueryInterface(riid, object);
            server->Release();
            return hr;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    // The server keeps running whatever the locks say; only its stop event ends it.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    BoardModel& m_board;
};

// Keeps one instance's IDispatch marshalled for the server's life. Wine 8 unregisters an interface's
// RPC registration when the last stub of that interface goes, and waits there for the interface's
// calls to end while it holds its registration lock; a call that ends at that very moment is missed
// and the release never returns (nor does the client's Release, nor the client's next activation).
// A client that creates and releases a server for every call from several threads at once (the
// bridge's exported functions, the service's threads) hit it within a minute. With one stub always
// there, the registration never drops to zero.
class KeptInterface {
public:
    explicit KeptInterface(BoardModel& board)
    {
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, m_stream.put())))
            return;
        const auto kept = win32::ComPtr<IDispatch>::Attach(new AcpiServerObject(board, false));
        m_marshalled = SUCCEEDED(
            CoMarshalInterface(m_stream.get(), IID_IDispatch, kept.get(), MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG));
    }
    ~KeptInterface()
    {
        if (!m_marshalled)
            return;
        const LARGE_INTEGER start{};
        if (SUCCEEDED(m_stream->Seek(start, STREAM_SEEK_SET, nullptr)))
            CoReleaseMarshalData(m_stream.get());
    }
    KeptInterface(const KeptInterface&) = delete;
    KeptInterface& operator=(const KeptInterface&) = delete;

private:
    win32::ComPtr<IStream> m_stream;
    bool m_marshalled = false;
};

// The running-server mutex (owned for the process's life) and the stop event, in one namespace.
struct ServerSignals {
    win32::UniqueHandle running;
    win32::UniqueHandle stop;
    bool alreadyRunning = false;
};

ServerSignals MakeSignals()
{
    OpenToEveryone security;
    ServerSignals signals;
    for (const wchar_t* prefix : kSharedPrefixes) {
        signals.running.reset(
            CreateMutexW(security.get(), TRUE, SharedObjectName(prefix, kServerRunningMutexName).c_str()));
        if (!signals.running)
            continue;
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            signals.alreadyRunning = true;
            return signals;
        }
        signals.stop.reset(
            CreateEventW(security.get(), TRUE, FALSE, SharedObjectName(prefix, kServerStopEventName).c_str()));
        if (signals.stop)
            return signals;
        ReleaseMutex(signals.running.get());
        signals.running.reset();
    }
    return signals;
}

int Serve()
{
    win32::ScopedComInit com(COINIT_MULTITHREADED);
    if (FAILED(com.Result()))
        return 1;
    std::unique_ptr<SharedBoardStore> store = SharedBoardStore::Open();
    if (!store)
        return 1;
    BoardModel board(*store);
    board.EnsureValid(Profile::SwitchAndStrips);
    board.CountServerInstance(0, true); // instances of an earlier server died with its process

    ServerSignals signals = MakeSignals();
    if (signals.alreadyRunning)
        return 0;
    if (!signals.stop)
        return 1;

    const KeptInterface kept(board);
    ServerFactory factory(board);
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(kVirtualAcpiServerClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                     &cookie))) {
        ReleaseMutex(signals.running.get());
        return 1;
    }
    HANDLE stop = signals.stop.get();
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1)
            break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    CoRevokeClassObject(cookie);
    ReleaseMutex(signals.running.get());
    return 0;
}

int Run()
{
    int count = 0;
    win32::UniqueLocalMemory arguments;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    arguments.reset(argv);
    const std::wstring option = argv && count > 1 ? argv[1] : L"";
    if (_wcsicmp(option.c_str(), L"/RegServer") == 0 || _wcsicmp(option.c_str(), L"-RegServer") == 0)
        return SUCCEEDED(RegisterAcpiServer(ServerBesideThisExecutable())) ? 0 : 1;
    if (_wcsicmp(option.c_str(), L"/UnregServer") == 0 || _wcsicmp(option.c_str(), L"-UnregServer") == 0)
        return SUCCEEDED(UnregisterAcpiServer()) ? 0 : 1;
    return Serve();
}

} // namespace
} // namespace ovled::sim

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    try {
        return ovled::sim::Run();
    } catch (...) {
        return 1;
    }
}
