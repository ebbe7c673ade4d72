// The held connection over a fake in-process server that records the apartment and thread of every call:
// a connection is made and used only on the thread (so in the apartment) whose session holds it, dispatch
// ids are looked up once, a server that went away is replaced once, and a failed creation is not retried
// for a second.
#include "hardware/ItemIds.h"
#include "hardware/win32/HeldConnection.h"
#include "platform/win32/Unique.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace ovled {
namespace {

// One server instance: answers every method with success, unless told to answer `failure` next.
class FakeServer final : public IDispatch {
public:
    struct Journal {
        std::mutex mutex;
        int created = 0;
        std::atomic<int> alive{0};
        int lookups = 0;
        int invokes = 0;
        int crossings = 0; // calls from another thread than the one that made the instance
        HRESULT nextFailure = S_OK;
    };

    explicit FakeServer(Journal& journal) : m_journal(journal), m_thread(GetCurrentThreadId())
    {
        std::lock_guard lock(journal.mutex);
        ++journal.created;
        ++journal.alive;
    }
    ~FakeServer() { --m_journal.alive; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (riid != IID_IUnknown && riid != IID_IDispatch) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        Note(false);
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID* ids) override
    {
        Note(true);
        ids[0] = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        std::lock_guard lock(m_journal.mutex);
        ++m_journal.invokes;
        m_journal.crossings += GetCurrentThreadId() != m_thread;
        return std::exchange(m_journal.nextFailure, S_OK);
    }

private:
    void Note(bool lookup)
    {
        std::lock_guard lock(m_journal.mutex);
        m_journal.lookups += lookup;
        m_journal.crossings += GetCurrentThreadId() != m_thread;
    }

    Journal& m_journal;
    const DWORD m_thread;
    std::atomic<ULONG> m_references{1};
};

class HeldConnectionTest : public ::testing::Test {
protected:
    HeldAutomationTransport::ServerFactory Factory()
    {
        return [this](IDispatch** server) {
            if (m_creationFails)
                return HRESULT(REGDB_E_CLASSNOTREG);
            *server = new FakeServer(m_journal);
            return S_OK;
        };
    }
    std::uint32_t Call(HeldAutomationTransport& transport)
    {
        return transport.AcpiSetItem(items::kOnboardEffect, 1, 1);
    }

    FakeServer::Journal m_journal;
    bool m_creationFails = false;
};

TEST_F(HeldConnectionTest, EachSessionUsesItsServerOnlyOnItsOwnThreadWhateverItsApartment)
{
    HeldAutomationTransport transport(Factory());
    auto work = [&](DWORD model) {
        win32::ScopedComInit com(model);
        const auto session = transport.Begin();
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(Call(transport), 1u);
    };
    std::thread sta(work, COINIT_APARTMENTTHREADED), mta(work, COINIT_MULTITHREADED);
    {
        win32::ScopedComInit com(COINIT_APARTMENTTHREADED);
        EXPECT_EQ(Call(transport), 1u); // outside a session
    }
    sta.join();
    mta.join();

    EXPECT_EQ(m_journal.crossings, 0) << "a server was called from a thread that did not make it";
    EXPECT_EQ(m_journal.created, 3) << "one per session, one for the call outside";
    EXPECT_EQ(m_journal.lookups, 3) << "names are looked up once per connection";
    EXPECT_EQ(m_journal.alive.load(), 0) << "every session released its server";
    EXPECT_EQ(transport.OpenSessions(), 0);
}

TEST_F(HeldConnectionTest, AServerThatWentAwayIsReplacedOnceAndAFailedCreationWaitsASecond)
{
    win32::ScopedComInit com(COINIT_APARTMENTTHREADED);
    HeldAutomationTransport transport(Factory());
    const auto session = transport.Begin();
    ASSERT_EQ(Call(transport), 1u);

    m_journal.nextFailure = RPC_E_DISCONNECTED;
    EXPECT_EQ(Call(transport), 1u) << "tried again on a fresh server";
    EXPECT_EQ(m_journal.created, 2);
    m_journal.nextFailure = DISP_E_EXCEPTION;
    EXPECT_EQ(Call(transport), 0u) << "the firmware's refusal is no reason to reconnect";
    EXPECT_EQ(m_journal.created, 2);

    m_creationFails = true;
    m_journal.nextFailure = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(Call(transport), 0u);
    const long creations = transport.Creations();
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(Call(transport), 0u);
    EXPECT_EQ(transport.Creations(), creations) << "no new creation within the second after a failed one";
}

} // namespace
} // namespace ovled
