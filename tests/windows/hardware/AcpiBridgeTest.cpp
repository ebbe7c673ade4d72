// The bridge's exported functions against the virtual board's automation server, out of process: what
// goes over the wire (argument kinds, the 0xE1 marker, the selector value) and what comes back.
#include "hardware/BiosItemRegistry.h"
#include "hardware/ElementFormat.h"
#include "hardware/ItemIds.h"
#include "hardware/win32/AcpiBridge.h"
#include "hardware/win32/HeldConnection.h"
#include "platform/win32/Unique.h"
#include "simulator/win32/ServerRegistration.h"
#include "tests/windows/support/VirtualServer.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <thread>
#include <vector>

namespace ovled {
namespace {

constexpr std::uint16_t kUnsigned = VT_UI4;
constexpr std::uint16_t kUnsignedReference = VT_BYREF | VT_UI4;
constexpr std::uint16_t kVariantReference = VT_BYREF | VT_VARIANT;

// Registers and starts the server for the whole run; stops and unregisters it at the end.
class VirtualServer : public ::testing::Environment {
public:
    void SetUp() override
    {
        m_com = std::make_unique<win32::ScopedComInit>(COINIT_MULTITHREADED);
        s_server = std::make_unique<test::VirtualServer>();
        ASSERT_TRUE(s_server->Ready());
    }
    void TearDown() override
    {
        EXPECT_TRUE(sim::IsAcpiServerRunning()) << "the server outlived every test";
        s_server.reset();
        EXPECT_FALSE(sim::IsAcpiServerRegistered());
        m_com.reset();
    }
    static sim::BoardModel& Board() { return s_server->Board(); }

private:
    std::unique_ptr<win32::ScopedComInit> m_com;
    static inline std::unique_ptr<test::VirtualServer> s_server;
};

[[maybe_unused]] ::testing::Environment* const g_server = ::testing::AddGlobalTestEnvironment(new VirtualServer);

std::vector<std::uint16_t> Kinds(const sim::CallRecord& call)
{
    return std::vector<std::uint16_t>(call.argumentTypes,
                                      call.argumentTypes + std::min<std::uint32_t>(call.argumentCount, 4));
}

class AcpiBridgeTest : public ::testing::Test {
protected:
    void SetUp() override { Board().Reset(sim::Profile::SwitchAndStrips); }
    sim::BoardModel& Board() { return VirtualServer::Board(); }
    void Fail(sim::Method method)
    {
        sim::Faults faults = Board().GetFaults();
        faults.failingMethods |= 1u << static_cast<int>(method);
        Board().SetFaults(faults);
    }

    std::array<std::uint8_t, kFirmwareBufferBytes> m_buffer{};
    HeldAutomationTransport m_bridge; // outside any session: one server per call, as the exports
};

TEST_F(AcpiBridgeTest, ExportsAreFoundByTheirStandardCallNames)
{
    HMODULE self = GetModuleHandleW(nullptr);
    const std::pair<const char*, void*> exports[] = {
        {"_AcpiInit@0", reinterpret_cast<void*>(&AcpiInit)},
        {"_AcpiGetItem@8", reinterpret_cast<void*>(&AcpiGetItem)},
        {"_AcpiGetItemEx@12", reinterpret_cast<void*>(&AcpiGetItemEx)},
        {"_AcpiSetItem@12", reinterpret_cast<void*>(&AcpiSetItem)},
        {"_AcpiSetItemBuffer@16", reinterpret_cast<void*>(&AcpiSetItemBuffer)},
        {"_AcpiMbif@8", reinterpret_cast<void*>(&AcpiMbif)},
        {"_AcpiGGrp@12", reinterpret_cast<void*>(&AcpiGGrp)},
        {"_AcpiCallMethod@12", reinterpret_cast<void*>(&AcpiCallMethod)},
    };
    for (const auto& [name, function] : exports) {
        SCOPED_TRACE(name);
        EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(self, name)), function);
    }
    using GetItemFunction = std::uint32_t(__stdcall*)(std::uint32_t, std::uint32_t*);
    auto getItem = reinterpret_cast<GetItemFunction>(reinterpret_cast<void*>(GetProcAddress(self, "_AcpiGetItem@8")));
    ASSERT_NE(getItem, nullptr);
    std::uint32_t value = 0;
    EXPECT_EQ(getItem(items::kStripSelector, &value), 1u);
    EXPECT_EQ(value, 0x0300u);
}

TEST_F(AcpiBridgeTest, GetItemBringsTheValueBackByReference)
{
    Board().SetItem(items::kStripSelector, 2, 3);
    std::uint32_t value = 0;
    EXPECT_EQ(AcpiGetItem(items::kStripSelector, &value), 1u);
    EXPECT_EQ(value, 0x0302u);
    const sim::CallRecord call = Board().LastCall();
    EXPECT_EQ(Kinds(call), (std::vector<std::uint16_t>{kUnsigned, kUnsignedReference}));
    EXPECT_EQ(call.scalars[0], items::kStripSelector);
}

TEST_F(AcpiBridgeTest, GetItemExSendsTheIdThenTheParameter)
{
    Board().SetItem(items::kStripSelector, 2, 3);
    Board().SetItem(items::kStripColor, 0x00ABCDEF, 3);
    Board().SetItem(items::kStripSelector, 0, 3);
    std::uint32_t value = 0;
    EXPECT_EQ(AcpiGetItemEx(items::kStripColor, 2, &value), 1u);
    EXPECT_EQ(value, 0x00ABCDEFu);
    const sim::CallRecord call = Board().LastCall();
    EXPECT_EQ(Kinds(call), (std::vector<std::uint16_t>{kUnsigned, kUnsigned, kUnsignedReference}));
    EXPECT_EQ(call.scalars[1], 2u);
}

TEST_F(AcpiBridgeTest, SetItemSendsIdValueAndFlags)
{
    EXPECT_EQ(AcpiSetItem(items::kOnboardEffect, 0xFF000002, 3), 1u);
    EXPECT_EQ(Kinds(Board().LastCall()), (std::vector<std::uint16_t>{kUnsigned, kUnsigned, kUnsigned}));
    const auto trace = Board().Trace(1);
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].target, items::kOnboardEffect);
    EXPECT_EQ(trace[0].value, 0xFF000002u);
    EXPECT_EQ(trace[0].detail & 0xFF, 3u);
    EXPECT_EQ(Board().Onboard().blue, 0xFF);
}

TEST_F(AcpiBridgeTest, GroupListArrivesMarkedAndComesBackWithItsLength)
{
    m_buffer.fill(0x77);
    std::uint32_t length = kFirmwareBufferBytes;
    EXPECT_EQ(AcpiGGrp(items::kLedGroup, m_buffer.data(), &length), 1u);
    const sim::CallRecord call = Board().LastCall();
    EXPECT_EQ(call.firstByteSent, 0xE1u);
    EXPECT_EQ(call.bytesSent, kFirmwareBufferBytes);
    EXPECT_EQ(Kinds(call), (std::vector<std::uint16_t>{kUnsigned, kVariantReference, kUnsignedReference}));
    EXPECT_EQ(length, 8u + 9u * 16u);
    EXPECT_EQ(ElementCount(m_buffer.data(), length), 9u);
    EXPECT_EQ(m_buffer[length], 0x77); // nothing written past the reply
}

TEST_F(AcpiBridgeTest, DescriptionCallSendsTheSelectorValue)
{
    std::uint32_t length = kFirmwareBufferBytes;
    ASSERT_EQ(AcpiGGrp(items::kSensorGroup, m_buffer.data(), &length), 1u);
    ElementCursor list(m_buffer.data(), length);
    list.Next();
    list.Next();
    const std::uint32_t selector = *list.Value();

    std::array<std::uint8_t, kFirmwareBufferBytes> description{};
    length = kFirmwareBufferBytes;
    EXPECT_EQ(AcpiCallMethod(&selector, description.data(), &length), 1u);
    EXPECT_EQ(Board().LastCall().scalars[0], selector);
    BiosNumberItem item(m_bridge);
    ASSERT_TRUE(item.Init(description.data(), length));
    EXPECT_EQ(item.GetId(), 0x06030003u);
    EXPECT_EQ(item.GetName(), L"CPU Temperature");
}

TEST_F(AcpiBridgeTest, FailedBufferInvocationReturnsOneWithTheBufferAsSent)
{
    Fail(sim::Method::GGrp);
    Fail(sim::Method::CallMethod);
    m_buffer.fill(0x77);
    std::uint32_t length = 100;
    EXPECT_EQ(AcpiGGrp(items::kSensorGroup, m_buffer.data(), &length), 1u);
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(m_buffer[0], 0xE1);
    EXPECT_EQ(m_buffer[1], 0x77);
    EXPECT_EQ(m_buffer[99], 0x77);

    const std::uint32_t selector = 0x5E1E0000;
    EXPECT_EQ(AcpiCallMethod(&selector, m_buffer.data(), &length), 1u);
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(m_buffer[1], 0x77);
}

TEST_F(AcpiBridgeTest, OnlyTheInvocationCountsNotTheMethodsOwnAnswer)
{
    Board().With([](sim::BoardState& state) { state.faults.answersZero = 1; });
    std::uint32_t value = 0;
    EXPECT_EQ(AcpiGetItem(items::kStripSelector, &value), 1u);
    EXPECT_EQ(value, 0x0300u);
    EXPECT_EQ(AcpiSetItem(items::kOnboardEffect, 1, 1), 1u);
    EXPECT_EQ(AcpiInit(), 1u);
}

TEST_F(AcpiBridgeTest, ServerKeepsRunningAfterItsLastRelease)
{
    EXPECT_EQ(AcpiInit(), 1u); // created and released again
    EXPECT_TRUE(sim::IsAcpiServerRunning());
    EXPECT_EQ(AcpiInit(), 1u);
}

TEST_F(AcpiBridgeTest, EveryExportedCallCreatesAndReleasesAServerOfItsOwn)
{
    const sim::ServerRecord before = Board().GetServerRecord();
    std::uint32_t value = 0;
    EXPECT_EQ(AcpiSetItem(items::kOnboardEffect, 1, 1), 1u);
    EXPECT_EQ(AcpiGetItem(items::kOnboardEffect, &value), 1u);
    EXPECT_EQ(AcpiInit(), 1u);
    const sim::ServerRecord after = Board().GetServerRecord();
    EXPECT_EQ(after.instancesCreated - before.instancesCreated, 3u);
    EXPECT_EQ(after.instancesAlive, before.instancesAlive);
}

// The service's threads: one server for a whole session, with each name looked up once, which outlives a
// restart of the server (a clean exit and a new start) and is released with the session.
TEST_F(AcpiBridgeTest, ASessionHoldsOneServerAcrossCallsAndAcrossARestartOfTheServer)
{
    const sim::ServerRecord before = Board().GetServerRecord();
    {
        const auto session = m_bridge.Begin();
        for (int i = 0; i < 20; ++i)
            ASSERT_EQ(m_bridge.AcpiSetItem(items::kOnboardEffect, static_cast<std::uint32_t>(i), 1), 1u);
        const sim::ServerRecord held = Board().GetServerRecord();
        EXPECT_EQ(held.instancesCreated - before.instancesCreated, 1u);
        EXPECT_EQ(held.nameLookups - before.nameLookups, 1u);

        ASSERT_TRUE(sim::StopAcpiServer());
        ASSERT_HRESULT_SUCCEEDED(sim::StartAcpiServer());
        EXPECT_EQ(m_bridge.AcpiSetItem(items::kOnboardEffect, 7, 1), 1u) << "reconnected at the first call";
    }
    EXPECT_EQ(Board().GetServerRecord().instancesAlive, 0) << "the session released its server";
}

TEST_F(AcpiBridgeTest, FailedScalarInvocationReturnsZero)
{
    std::uint32_t value = 0x1234;
    EXPECT_EQ(AcpiGetItem(0x55000001, &value), 0u); // no such item
    EXPECT_EQ(value, 0x1234u);
    Fail(sim::Method::SetItem);
    EXPECT_EQ(AcpiSetItem(items::kOnboardEffect, 1, 1), 0u);
    EXPECT_TRUE(Board().Trace().empty());
}

TEST_F(AcpiBridgeTest, RepliesLongerThanTheBufferStopAtItsCapacity)
{
    sim::Faults faults{};
    faults.groupMalformation = static_cast<std::uint32_t>(sim::Malformation::Oversized);
    faults.groupTarget = 0xFFFFFFFF;
    Board().SetFaults(faults);
    std::array<std::uint8_t, 300> guarded{};
    guarded.fill(0x5A);
    std::uint32_t length = 200;
    EXPECT_EQ(AcpiGGrp(items::kSensorGroup, guarded.data(), &length), 1u);
    EXPECT_EQ(length, 200u);
    EXPECT_EQ(guarded[199], 0xAB);
    EXPECT_EQ(guarded[200], 0x5A);
}

TEST_F(AcpiBridgeTest, EmptyOrMissingBuffersAreNeverWritten)
{
    m_buffer[0] = 0x77;
    std::uint32_t length = 0;
    EXPECT_EQ(AcpiGGrp(items::kLedGroup, m_buffer.data(), &length), 1u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(m_buffer[0], 0x77);
    EXPECT_EQ(Board().LastCall().bytesSent, 0u);

    const std::uint32_t calls = Board().LastCall().sequence;
    length = 16;
    EXPECT_EQ(AcpiGGrp(items::kLedGroup, m_buffer.data(), nullptr), 0u);
    EXPECT_EQ(AcpiMbif(nullptr, &length), 0u);
    EXPECT_EQ(AcpiCallMethod(nullptr, m_buffer.data(), &length), 0u);
    EXPECT_EQ(Board().LastCall().sequence, calls);
}

TEST_F(AcpiBridgeTest, PassThroughCallsReachTheServer)
{
    EXPECT_EQ(AcpiInit(), 1u);
    EXPECT_EQ(Kinds(Board().LastCall()).size(), 0u);
    std::uint32_t length = 64;
    EXPECT_EQ(AcpiMbif(m_buffer.data(), &length), 1u);
    EXPECT_EQ(length, 21u); // the text, its NUL and the profile
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m_buffer.data())), "OVLED VIRTUAL BOARD");
    EXPECT_EQ(Kinds(Board().LastCall()), (std::vector<std::uint16_t>{kVariantReference, kUnsignedReference}));

    m_buffer[0] = 0x42;
    length = 1;
    EXPECT_EQ(AcpiSetItemBuffer(0xDEADBEEF, items::kOnboardEffect, m_buffer.data(), &length), 1u);
    EXPECT_EQ(Board().LastCall().scalars[0], items::kOnboardEffect);
    EXPECT_EQ(length, 1u);
}

TEST_F(AcpiBridgeTest, TheRegistryLoadsThroughTheBridge)
{
    BiosItemRegistry registry(m_bridge);
    ASSERT_TRUE(registry.Exists(items::kOnboardSwitch));
    EXPECT_EQ(registry.Get(items::kStripEffect)->SetValueEx(0x66339901, 1), 1);
    EXPECT_EQ(Board().Strip(0).red, 0x99);

    Board().Reset(sim::Profile::NoSwitch);
    BiosItemRegistry other(m_bridge);
    EXPECT_FALSE(other.Exists(items::kOnboardSwitch));
    EXPECT_TRUE(other.Exists(items::kOnboardColor));
}

TEST_F(AcpiBridgeTest, CallsFromSeveralThreadsAllArrive)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([t] {
            win32::ScopedComInit com(t == 0 ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
            for (int i = 0; i < 10; ++i)
                EXPECT_EQ(AcpiSetItem(0x06030001, static_cast<std::uint32_t>(i), 1), 1u);
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(Board().GetCounters().calls[static_cast<int>(sim::Method::SetItem)], 30u);
}

TEST_F(AcpiBridgeTest, WithoutARegisteredServerEveryCallAnswersZeroAndWritesNothing)
{
    ASSERT_HRESULT_SUCCEEDED(sim::UnregisterAcpiServer());
    m_buffer.fill(0x77);
    std::uint32_t value = 5, length = 64;
    const std::uint32_t selector = 0x5E1E0000;
    EXPECT_EQ(AcpiInit(), 0u);
    EXPECT_EQ(AcpiGetItem(items::kOnboardEffect, &value), 0u);
    EXPECT_EQ(AcpiGetItemEx(items::kOnboardEffect, 0, &value), 0u);
    EXPECT_EQ(AcpiSetItem(items::kOnboardEffect, 1, 1), 0u);
    EXPECT_EQ(AcpiSetItemBuffer(0, items::kOnboardEffect, m_buffer.data(), &length), 0u);
    EXPECT_EQ(AcpiMbif(m_buffer.data(), &length), 0u);
    EXPECT_EQ(AcpiGGrp(items::kLedGroup, m_buffer.data(), &length), 0u);
    EXPECT_EQ(AcpiCallMethod(&selector, m_buffer.data(), &length), 0u);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(m_buffer[0], 0x77);
    BiosItemRegistry registry(m_bridge);
    EXPECT_FALSE(registry.Exists(items::kOnboardSwitch));
    ASSERT_HRESULT_SUCCEEDED(sim::RegisterAcpiServer(sim::ServerBesideThisExecutable()));
    EXPECT_EQ(AcpiInit(), 1u);
}

} // namespace
} // namespace ovled
