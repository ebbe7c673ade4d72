#include "hardware/BiosItem.h"
#include "hardware/ElementFormat.h"
#include "hardware/ItemIds.h"
#include "simulator/ElementWriter.h"
#include "simulator/ProcessSharedLock.h"
#include "simulator/VirtualBoard.h"
#include "tests/support/SteppedClock.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace ovled::sim {
namespace {

std::uint32_t Bit(Method method)
{
    return 1u << static_cast<int>(method);
}

class VirtualBoardTest : public ::testing::Test {
protected:
    void Fail(std::uint32_t methods)
    {
        Faults faults = m_board.Model().GetFaults();
        faults.failingMethods = methods;
        m_board.Model().SetFaults(faults);
    }
    std::uint32_t Read(std::uint32_t id)
    {
        std::uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(m_board.AcpiGetItem(id, &value), 1u);
        return value;
    }

    VirtualBoard m_board;
    std::array<std::uint8_t, kFirmwareBufferBytes> m_buffer{};
};

TEST_F(VirtualBoardTest, GroupListCallMarksByteZeroAndReplacesTheBuffer)
{
    m_buffer.fill(0x77);
    std::uint32_t length = kFirmwareBufferBytes;
    EXPECT_EQ(m_board.AcpiGGrp(items::kLedGroup, m_buffer.data(), &length), 1u);
    EXPECT_EQ(m_board.Model().LastCall().firstByteSent, 0xE1u);
    EXPECT_EQ(m_buffer[0], 0xE1);
    EXPECT_EQ(ElementCount(m_buffer.data(), length), 9u);
    EXPECT_EQ(length, 8u + 9u * 16u);
}

TEST_F(VirtualBoardTest, FailedBufferInvocationAnswersOneWithTheBufferAsSent)
{
    Fail(Bit(Method::GGrp) | Bit(Method::CallMethod));
    m_buffer.fill(0x77);
    std::uint32_t length = 100;
    EXPECT_EQ(m_board.AcpiGGrp(6, m_buffer.data(), &length), 1u);
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(m_buffer[0], 0xE1);
    EXPECT_EQ(m_buffer[1], 0x77);

    const std::uint32_t selector = 0x5E1E0000;
    length = 100;
    EXPECT_EQ(m_board.AcpiCallMethod(&selector, m_buffer.data(), &length), 1u);
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(m_buffer[1], 0x77);
}

TEST_F(VirtualBoardTest, WithoutAServerNothingIsTouched)
{
    m_board.Model().With([](BoardState& state) { state.faults.serverMissing = 1; });
    m_buffer.fill(0x77);
    std::uint32_t length = 64, value = 5;
    const std::uint32_t selector = 0x5E1E0000;
    EXPECT_EQ(m_board.AcpiInit(), 0u);
    EXPECT_EQ(m_board.AcpiGetItem(items::kOnboardEffect, &value), 0u);
    EXPECT_EQ(m_board.AcpiGetItemEx(items::kOnboardEffect, 0, &value), 0u);
    EXPECT_EQ(m_board.AcpiSetItem(items::kOnboardEffect, 1, 1), 0u);
    EXPECT_EQ(m_board.AcpiGGrp(6, m_buffer.data(), &length), 0u);
    EXPECT_EQ(m_board.AcpiCallMethod(&selector, m_buffer.data(), &length), 0u);
    EXPECT_EQ(m_board.AcpiMbif(m_buffer.data(), &length), 0u);
    EXPECT_EQ(m_board.AcpiSetItemBuffer(0, items::kOnboardEffect, m_buffer.data(), &length), 0u);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(m_buffer[0], 0x77);
}

TEST_F(VirtualBoardTest, RepliesLongerThanTheBufferStopAtItsCapacity)
{
    Faults faults{};
    faults.groupMalformation = static_cast<std::uint32_t>(Malformation::Oversized);
    faults.groupTarget = 0xFFFFFFFF;
    m_board.Model().SetFaults(faults);
    std::array<std::uint8_t, 300> guarded{};
    guarded.fill(0x5A);
    std::uint32_t length = 200;
    EXPECT_EQ(m_board.AcpiGGrp(6, guarded.data(), &length), 1u);
    EXPECT_EQ(length, 200u);
    EXPECT_EQ(guarded[199], 0xAB);
    EXPECT_EQ(guarded[200], 0x5A);
}

TEST_F(VirtualBoardTest, DescriptionCallSendsTheSelectorValue)
{
    std::uint32_t length = kFirmwareBufferBytes;
    ASSERT_EQ(m_board.AcpiGGrp(6, m_buffer.data(), &length), 1u);
    ElementCursor list(m_buffer.data(), length);
    const std::uint32_t selector = *list.Value();

    std::array<std::uint8_t, kFirmwareBufferBytes> description{};
    length = kFirmwareBufferBytes;
    EXPECT_EQ(m_board.AcpiCallMethod(&selector, description.data(), &length), 1u);
    EXPECT_EQ(m_board.Model().LastCall().scalars[0], selector);
    EXPECT_EQ(ElementCursor(description.data(), length).Value(), 0x06030001u);
}

TEST_F(VirtualBoardTest, DescriptionsParseBackIntoWhatTheBoardHolds)
{
    BiosNumberItem item(m_board);
    const auto description = EncodeDescription(m_board.Model().With([](BoardState& s) { return s.items[3]; }), 0);
    ASSERT_TRUE(item.Init(description.data(), static_cast<std::uint32_t>(description.size())));
    EXPECT_EQ(item.GetId(), 0x13010050u);
    EXPECT_EQ(item.GetName(), L"LED Brightness");
    EXPECT_EQ(item.GetOptionCount(), 22);
    EXPECT_EQ(item.IndexToString(0), L"Auto");
    EXPECT_EQ(item.IndexToString(21), L"1.00");

    const auto list = EncodeGroupList(0xE1, {0x10, 0x20}, {0x13060040, 0x13060041});
    ElementCursor cursor(list.data(), list.size());
    EXPECT_EQ(ElementCount(list.data(), list.size()), 2u);
    EXPECT_EQ(cursor.Value(), 0x10u);
    EXPECT_EQ(cursor.DataLength(), 8u);
    cursor.Next();
    EXPECT_EQ(cursor.Value(), 0x20u);
}

TEST_F(VirtualBoardTest, SelectorChoosesTheStripTheOtherStripItemsActOn)
{
    EXPECT_EQ(Read(items::kStripSelector), 0x0300u);
    EXPECT_EQ(m_board.AcpiSetItem(items::kStripSelector, 2, 3), 1u);
    EXPECT_EQ(Read(items::kStripSelector), 0x0302u);
    EXPECT_EQ(m_board.AcpiSetItem(items::kStripHostControl, 1, 3), 1u);
    EXPECT_EQ(m_board.AcpiSetItem(items::kStripColor, 0x00112233, 3), 1u);
    EXPECT_TRUE(m_board.Model().Strip(2).hostControl);
    EXPECT_FALSE(m_board.Model().Strip(1).hostControl);

    EXPECT_EQ(m_board.AcpiSetItem(items::kStripSelector, 3, 3), 0u); // no strip 3
    EXPECT_EQ(Read(items::kStripSelector), 0x0302u);

    std::uint32_t value = 0;
    EXPECT_EQ(m_board.AcpiGetItemEx(items::kStripColor, 2, &value), 1u);
    EXPECT_EQ(value, 0x00112233u);
    EXPECT_EQ(m_board.AcpiGetItemEx(items::kStripColor, 0, &value), 1u);
    EXPECT_EQ(value, 0u);
}

TEST_F(VirtualBoardTest, StripShowsItsColourInItsWiringOrder)
{
    m_board.AcpiSetItem(items::kStripSelector, 1, 3);
    m_board.AcpiSetItem(items::kStripEffect, 0x66339901, 1); // code 1: red 0x99, blue 0x33, green 0x66
    LedView strip = m_board.Model().Strip(1);
    EXPECT_FALSE(strip.hostControl);
    EXPECT_EQ(strip.effectCode, 1);
    EXPECT_EQ(strip.red, 0x99);
    EXPECT_EQ(strip.blue, 0x33);
    EXPECT_EQ(strip.green, 0x66);

    const std::uint8_t wiring[3] = {2, 0, 1}; // byte 0 feeds green, byte 1 red, byte 2 blue
    ASSERT_TRUE(m_board.Model().SetWiring(1, wiring));
    m_board.AcpiSetItem(items::kStripHostControl, 1, 3);
    m_board.AcpiSetItem(items::kStripColor, 0x00332211, 3);
    strip = m_board.Model().Strip(1);
    EXPECT_TRUE(strip.hostControl);
    EXPECT_EQ(strip.green, 0x11);
    EXPECT_EQ(strip.red, 0x22);
    EXPECT_EQ(strip.blue, 0x33);
}

TEST_F(VirtualBoardTest, OnboardZoneFollowsSwitchHostControlAndEffect)
{
    LedView onboard = m_board.Model().Onboard();
    EXPECT_TRUE(onboard.on);
    EXPECT_EQ(onboard.effectCode, 2);
    EXPECT_EQ(onboard.red, 0xFF);

    m_board.AcpiSetItem(items::kOnboardSwitch, 0, 1);
    onboard = m_board.Model().Onboard();
    EXPECT_FALSE(onboard.on);
    EXPECT_EQ(onboard.red, 0);

    VirtualBoard itemPath(Profile::NoSwitch);
    itemPath.AcpiSetItem(items::kOnboardHostControl, 1, 1);
    itemPath.AcpiSetItem(items::kOnboardColor, 0x30201000, 1); // red 0x10, green 0x20, blue 0x30
    onboard = itemPath.Model().Onboard();
    EXPECT_TRUE(onboard.on);
    EXPECT_EQ(onboard.red, 0x10);
    EXPECT_EQ(onboard.green, 0x20);
    EXPECT_EQ(onboard.blue, 0x30);
    itemPath.AcpiSetItem(items::kOnboardEffect, 0, 1); // the effect item doubles as the switch
    EXPECT_FALSE(itemPath.Model().Onboard().on);
}

TEST_F(VirtualBoardTest, WritesAreTracedAndCountedPerDevice)
{
    m_board.AcpiSetItem(items::kStripSelector, 1, 3);
    m_board.AcpiSetItem(items::kStripColor, 0x123456, 3);
    m_board.AcpiSetItem(items::kOnboardHostControl, 1, 3);
    const auto trace = m_board.Model().Trace();
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[1].target, items::kStripColor);
    EXPECT_EQ(trace[1].value, 0x123456u);
    EXPECT_EQ(trace[1].detail, 3u | 1u << 8);
    EXPECT_LE(trace[0].micros, trace[2].micros);
    const Counters counters = m_board.Model().GetCounters();
    EXPECT_EQ(counters.deviceWrites[0], 1u);
    EXPECT_EQ(counters.deviceWrites[2], 2u); // strip 1
    EXPECT_EQ(counters.itemWrites, 3u);
}

TEST_F(VirtualBoardTest, TraceKeepsTheNewestEntries)
{
    for (std::uint32_t i = 0; i < kTraceCapacity + 10; ++i)
        m_board.AcpiSetItem(items::kOnboardEffect, i, 1);
    const auto trace = m_board.Model().Trace();
    ASSERT_EQ(trace.size(), kTraceCapacity);
    EXPECT_EQ(trace.front().value, 10u);
    EXPECT_EQ(trace.back().value, kTraceCapacity + 9);
    EXPECT_EQ(m_board.Model().Trace(2).front().value, kTraceCapacity + 8);
}

TEST_F(VirtualBoardTest, ProfilesDifferInTheirItems)
{
    auto has = [](Profile profile, std::uint32_t id) {
        VirtualBoard board(profile);
        std::uint32_t value = 0;
        return board.AcpiGetItem(id, &value) == 1;
    };
    EXPECT_TRUE(has(Profile::SwitchAndStrips, items::kOnboardSwitch));
    EXPECT_FALSE(has(Profile::NoSwitch, items::kOnboardSwitch));
    EXPECT_TRUE(has(Profile::NoSwitch, items::kOnboardColor));
    EXPECT_FALSE(has(Profile::NoStrips, items::kStripSelector));
    EXPECT_TRUE(has(Profile::NoStrips, items::kOnboardSwitch));
    EXPECT_FALSE(has(Profile::NoSensor, 0x06030003));
    EXPECT_TRUE(has(Profile::NoSensor, 0x06030001));
    EXPECT_FALSE(has(Profile::Empty, items::kOnboardEffect));
    EXPECT_EQ(VirtualBoard(Profile::NoSwitch).Model().StripCount(), 2u);
}

TEST_F(VirtualBoardTest, CpuTemperatureIsSettable)
{
    m_board.Model().SetTemperatureTenths(455);
    EXPECT_EQ(Read(0x06030003), 455u);
    m_board.AcpiSetItem(0x06030003, 300, 1);
    EXPECT_EQ(Read(0x06030003), 300u);
}

TEST_F(VirtualBoardTest, HiddenItemsAreGoneFromListsAndCalls)
{
    ASSERT_TRUE(m_board.Model().SetItemPresent(items::kOnboardSwitch, false));
    std::uint32_t value = 0;
    EXPECT_EQ(m_board.AcpiGetItem(items::kOnboardSwitch, &value), 0u);
    std::uint32_t length = kFirmwareBufferBytes;
    m_board.AcpiGGrp(items::kLedGroup, m_buffer.data(), &length);
    EXPECT_EQ(ElementCount(m_buffer.data(), length), 8u);
    EXPECT_FALSE(m_board.Model().SetItemPresent(0x55000001, false));
}

TEST_F(VirtualBoardTest, SlowServerTakesItsTimeOnTheBoardsClock)
{
    test::SteppedClock clock;
    VirtualBoard board(Profile::SwitchAndStrips, clock);
    Faults faults{};
    faults.slowMillis = 40;
    board.Model().SetFaults(faults);
    board.AcpiSetItem(items::kOnboardEffect, 1, 1);
    std::uint32_t value = 0;
    board.AcpiGetItem(items::kOnboardEffect, &value);
    EXPECT_EQ(clock.TotalSlept().count(), 80);
}

TEST_F(VirtualBoardTest, PassThroughCallsAnswer)
{
    EXPECT_EQ(m_board.AcpiInit(), 1u);
    std::uint32_t length = 64;
    EXPECT_EQ(m_board.AcpiMbif(m_buffer.data(), &length), 1u);
    EXPECT_EQ(std::memcmp(m_buffer.data(), "OVLED VIRTUAL BOARD", 19), 0);
    m_buffer[0] = 0x42;
    length = 1;
    EXPECT_EQ(m_board.AcpiSetItemBuffer(0xFFFFFFFF, items::kOnboardEffect, m_buffer.data(), &length), 1u);
    EXPECT_EQ(m_board.Model().LastCall().scalars[0], items::kOnboardEffect);
    EXPECT_EQ(m_board.Model().LastCall().bytesSent, 1u);
    Fail(Bit(Method::Init));
    EXPECT_EQ(m_board.AcpiInit(), 0u);
}

TEST_F(VirtualBoardTest, ControllerFollowsTheCommandProtocol)
{
    BoardModel& model = m_board.Model();
    model.OutPortB(0x66, 0x81);
    model.OutPortB(0x62, 0xFF);
    model.OutPortB(0x62, 0x01); // bank 1
    model.OutPortB(0x66, 0x81);
    model.OutPortB(0x62, 0x20);
    model.OutPortB(0x62, 0x99);
    EXPECT_EQ(model.EcRegister(1, 0x20), 0x99);
    EXPECT_EQ(model.InPortB(0x66) & 0x01, 0);
    model.OutPortB(0x66, 0x80);
    model.OutPortB(0x62, 0x20);
    EXPECT_EQ(model.InPortB(0x66) & 0x01, 1);
    EXPECT_EQ(model.InPortB(0x62), 0x99);
    EXPECT_EQ(model.InPortB(0x66) & 0x01, 0);
    model.OutPortB(0x62, 0x55); // data without a command goes nowhere
    EXPECT_EQ(model.EcRegister(1, 0x55), 0);
}

// The shared board's lock, with a platform whose processes live as long as a test says.
class ScriptedLockHost final : public ILockHost {
public:
    std::uint32_t Self() noexcept override { return 7; }
    bool Alive(std::uint32_t owner) noexcept override
    {
        ++livenessChecks;
        return owner == 7 || livenessChecks < ownerEndsAtCheck;
    }
    void LetOthersRun() noexcept override { std::this_thread::yield(); }
    void Nap() noexcept override { std::this_thread::yield(); }

    unsigned ownerEndsAtCheck = ~0u;
    unsigned livenessChecks = 0;
};

TEST(ProcessSharedLock, ThreadsExcludeEachOther)
{
    alignas(4) std::uint32_t word = 0;
    ScriptedLockHost host;
    ProcessSharedLock lock(word, host);
    long guarded = 0; // plain: a lock that let two threads in loses increments (and TSan says so)
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                std::lock_guard hold(lock);
                guarded = guarded + 1;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(guarded, 80000);
    EXPECT_EQ(word, 0u);
}

TEST(ProcessSharedLock, WaitsForALiveHolderAndTakesOverFromOneThatEnded)
{
    alignas(4) std::uint32_t word = 42; // held by process 42
    ScriptedLockHost host;
    host.ownerEndsAtCheck = 3;
    ProcessSharedLock lock(word, host);
    EXPECT_FALSE(lock.try_lock());
    lock.lock();
    EXPECT_EQ(word, 7u);
    EXPECT_EQ(host.livenessChecks, 3u) << "the holder was asked about until it had ended";
    lock.unlock();
    EXPECT_EQ(word, 0u);
}

} // namespace
} // namespace ovled::sim
