#include "hardware/EcPort.h"
#include "simulator/VirtualBoard.h"
#include "tests/support/SteppedClock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace ovled {
namespace {

// Records every port access on its way to the board: "i66" for a status read, "o62:70" for a write.
class RecordingPorts final : public IPortIo {
public:
    explicit RecordingPorts(IPortIo& inner) : m_inner(inner) {}
    std::int32_t Load() override { return m_inner.Load(); }
    bool HasPortAccess() override { return m_inner.HasPortAccess(); }
    void OutPortB(std::uint16_t port, std::uint8_t value) override
    {
        char text[16];
        std::snprintf(text, sizeof text, "o%02x:%02x", port, value);
        m_log.push_back(text);
        m_inner.OutPortB(port, value);
    }
    std::uint8_t InPortB(std::uint16_t port) override
    {
        char text[16];
        std::snprintf(text, sizeof text, "i%02x", port);
        m_log.push_back(text);
        return m_inner.InPortB(port);
    }
    std::vector<std::string> Take() { return std::exchange(m_log, {}); }

private:
    IPortIo& m_inner;
    std::vector<std::string> m_log;
};

using Log = std::vector<std::string>;

// One write transaction with a controller that is never busy.
Log WriteTransaction(const std::string& address, const std::string& value)
{
    return {"i66", "o66:81", "i66", "i66", "o62:" + address, "i66", "i66", "o62:" + value, "i66"};
}

Log Concat(Log a, const Log& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class EcPortTest : public ::testing::Test {
protected:
    void Busy(std::uint32_t staysBusy, std::uint32_t busyReads)
    {
        sim::Faults faults = m_board.Model().GetFaults();
        faults.ecStaysBusy = staysBusy;
        faults.ecBusyReads = busyReads;
        m_board.Model().SetFaults(faults);
    }

    test::SteppedClock m_clock;
    sim::VirtualBoard m_board;
    RecordingPorts m_ports{m_board};
    EcPort m_ec{m_ports, m_clock};
};

TEST_F(EcPortTest, RegisterWriteSelectsTheBankThenWrites)
{
    m_ec.WriteRegister(0, 0x70, 0x12);
    EXPECT_EQ(m_ports.Take(), Concat(WriteTransaction("ff", "00"), WriteTransaction("70", "12")));
    EXPECT_EQ(m_board.Model().EcRegister(0, 0x70), 0x12);
    EXPECT_EQ(m_clock.TotalSlept().count(), 0);
}

TEST_F(EcPortTest, RegisterReadSelectsTheBankThenReadsTheDataPort)
{
    m_ec.WriteRegister(2, 0x10, 0xA5);
    m_ports.Take();
    EXPECT_EQ(m_ec.ReadRegister(2, 0x10), 0xA5);
    const Log read = {"i66", "o66:80", "i66", "i66", "o62:10", "i66", "i66", "i62"};
    EXPECT_EQ(m_ports.Take(), Concat(WriteTransaction("ff", "02"), read));
    EXPECT_EQ(m_ec.ReadRegister(0, 0x10), 0); // the same address in another bank
}

TEST_F(EcPortTest, EveryAccessSelectsTheBankEvenWhenItIsUnchanged)
{
    m_ec.WriteRegister(0, 0x70, 1);
    m_ec.WriteRegister(0, 0x71, 2);
    m_ec.ReadRegister(0, 0x72);
    const auto trace = m_board.Model().Trace();
    ASSERT_EQ(trace.size(), 5u);
    for (std::size_t i : {0u, 2u, 4u}) {
        EXPECT_EQ(trace[i].target & 0xFF, 0xFFu);
        EXPECT_EQ(trace[i].value, 0u);
    }
}

TEST_F(EcPortTest, InputBufferThatClearsOnTheSecondLookCostsNoPause)
{
    Busy(0, 1); // status 0x02 once, then 0x00
    m_ec.WriteRegister(0, 0x70, 0x33);
    const Log log = m_ports.Take();
    EXPECT_EQ(log[0], "i66");
    EXPECT_EQ(log[1], "i66"); // the second look
    EXPECT_EQ(log[2], "o66:81");
    EXPECT_EQ(m_clock.TotalSlept().count(), 0);
    EXPECT_EQ(m_board.Model().EcRegister(0, 0x70), 0x33);
}

TEST_F(EcPortTest, BusyOnTheSecondLookPausesOnceAndWritesAnyway)
{
    Busy(0, 2);
    m_ec.WriteRegister(0, 0x70, 0x44);
    EXPECT_EQ(m_clock.TotalSlept().count(), 1);
    EXPECT_EQ(m_board.Model().EcRegister(0, 0x70), 0x44);
}

TEST_F(EcPortTest, ControllerThatStaysBusyCostsAtMostOnePausePerWaitStep)
{
    Busy(1, 0);
    m_ec.WriteRegister(0, 0x70, 0x55);
    EXPECT_EQ(m_clock.TotalSlept().count(), 12);
    EXPECT_EQ(m_board.Model().EcRegister(0, 0x70), 0); // the controller never took the bytes
    m_ec.ReadRegister(0, 0x70);
    EXPECT_EQ(m_clock.TotalSlept().count(), 12 + 11); // ten wait steps and the output-buffer check
}

TEST_F(EcPortTest, ColourRegistersDriveTheOnboardZoneUnderHostControl)
{
    m_board.Model().SetItem(0x13060041, 1, 3);
    m_ec.WriteRegister(0, ec::kRedRegister, 10);
    m_ec.WriteRegister(0, ec::kBlueRegister, 20);
    m_ec.WriteRegister(0, ec::kGreenRegister, 30);
    const sim::LedView onboard = m_board.Model().Onboard();
    EXPECT_TRUE(onboard.hostControl);
    EXPECT_EQ(onboard.red, 10);
    EXPECT_EQ(onboard.blue, 20);
    EXPECT_EQ(onboard.green, 30);
}

TEST_F(EcPortTest, MissingLibraryIsLoadedAgainOnEveryAccessAndSkipsIt)
{
    m_board.SetPortLibrary({.failingLoads = 2});
    m_ec.WriteRegister(0, 0x70, 1);
    EXPECT_EQ(m_ec.ReadRegister(0, 0x70), 0);
    EXPECT_TRUE(m_ports.Take().empty());
    EXPECT_EQ(m_board.PortLibraryLoads(), 2u);

    m_ec.WriteRegister(0, 0x70, 7);
    EXPECT_EQ(m_board.PortLibraryLoads(), 3u);
    EXPECT_EQ(m_ec.ReadRegister(0, 0x70), 7);
    EXPECT_EQ(m_board.PortLibraryLoads(), 3u);
    EXPECT_EQ(m_board.PortLibraryOpens(), 1u);
    EXPECT_EQ(m_ec.LoadPortLibrary(), kPortIoReady);
}

TEST_F(EcPortTest, LoadReportsWhatWentWrongAndIsNotRepeated)
{
    m_board.SetPortLibrary({.openMissing = true});
    EXPECT_EQ(m_ec.LoadPortLibrary(), kPortIoNoOpen);
    m_ec.WriteRegister(0, 0x70, 9);
    EXPECT_EQ(m_board.PortLibraryLoads(), 1u);
    EXPECT_EQ(m_board.Model().EcRegister(0, 0x70), 9);

    sim::VirtualBoard other;
    other.SetPortLibrary({.openFails = true});
    EcPort port(other, m_clock);
    EXPECT_EQ(port.LoadPortLibrary(), kPortIoOpenFailed);
    EXPECT_EQ(port.LoadPortLibrary(), kPortIoOpenFailed);
    EXPECT_EQ(other.PortLibraryOpens(), 1u);
}

TEST_F(EcPortTest, MissingByteEntryPointsSkipEveryAccess)
{
    m_board.SetPortLibrary({.byteAccessMissing = true});
    m_ec.WriteRegister(0, 0x70, 1);
    m_ec.WriteByte(0x70, 1);
    EXPECT_EQ(m_ec.ReadRegister(0, 0x70), 0);
    EXPECT_EQ(m_ec.ReadByte(0x70), 0);
    EXPECT_TRUE(m_ports.Take().empty());
    EXPECT_EQ(m_clock.TotalSlept().count(), 0);
}

TEST(NoPortLibrary, EveryAccessIsSkippedAndTheLoadTriedAgain)
{
    NoPortIo none;
    test::SteppedClock clock;
    EcPort port(none, clock);
    port.WriteRegister(0, 0x70, 1);
    EXPECT_EQ(port.ReadRegister(0, 0x70), 0);
    EXPECT_EQ(port.LoadPortLibrary(), kPortIoNotLoaded);
}

} // namespace
} // namespace ovled
