#include "simulator/BoardControl.h"
#include "simulator/VirtualBoard.h"

#include <gtest/gtest.h>

#include <sstream>

namespace ovled::sim {
namespace {

class BoardControlTest : public ::testing::Test {
protected:
    int Run(std::vector<std::string> args)
    {
        m_out.str("");
        m_err.str("");
        return RunBoardCommand(m_board.Model(), args, m_out, m_err);
    }

    VirtualBoard m_board;
    std::ostringstream m_out;
    std::ostringstream m_err;
};

TEST_F(BoardControlTest, ProfileTemperatureAndWiringChangeTheBoard)
{
    EXPECT_EQ(Run({"profile", "no-switch"}), 0);
    EXPECT_EQ(m_board.Model().StripCount(), 2u);
    EXPECT_EQ(Run({"temperature", "61.5"}), 0);
    EXPECT_EQ(m_board.Model().With([](BoardState& s) { return s.temperatureTenths; }), 615u);
    EXPECT_EQ(Run({"wiring", "1", "201"}), 0);
    EXPECT_EQ(m_board.Model().With([](BoardState& s) { return s.strips[1].wiring[0]; }), 2);
    EXPECT_EQ(Run({"wiring", "2", "012"}), 1); // this profile has two strips
}

TEST_F(BoardControlTest, FaultsAreSetAndCleared)
{
    EXPECT_EQ(Run({"fault", "fail", "iAcpiGetItem"}), 0);
    EXPECT_EQ(Run({"fault", "fail", "set-item"}), 0);
    EXPECT_EQ(m_board.Model().GetFaults().failingMethods,
              1u << static_cast<int>(Method::GetItem) | 1u << static_cast<int>(Method::SetItem));
    EXPECT_EQ(Run({"fault", "slow", "250"}), 0);
    EXPECT_EQ(Run({"fault", "ec-busy", "on"}), 0);
    EXPECT_EQ(Run({"fault", "description", "truncated", "0x13060048"}), 0);
    EXPECT_EQ(Run({"fault", "group", "huge-count", "6"}), 0);
    EXPECT_EQ(Run({"fault", "port-io", "on"}), 0);
    EXPECT_EQ(m_board.Model().InPortB(0x66), 0xFF); // a port nothing answers, not the busy controller's status
    Faults faults = m_board.Model().GetFaults();
    EXPECT_EQ(faults.slowMillis, 250u);
    EXPECT_EQ(faults.ecStaysBusy, 1u);
    EXPECT_EQ(faults.descriptionMalformation, static_cast<std::uint32_t>(Malformation::Truncated));
    EXPECT_EQ(faults.descriptionTarget, 0x13000048u);
    EXPECT_EQ(faults.groupTarget, 6u);
    EXPECT_EQ(faults.portIoFails, 1u);
    EXPECT_EQ(Run({"faults"}), 0);
    EXPECT_NE(m_out.str().find("iAcpiGetItem iAcpiSetItem"), std::string::npos);

    EXPECT_EQ(Run({"fault", "clear"}), 0);
    faults = m_board.Model().GetFaults();
    EXPECT_EQ(faults.failingMethods, 0u);
    EXPECT_EQ(faults.groupMalformation, 0u);
}

TEST_F(BoardControlTest, PrintsLedsAndTrace)
{
    m_board.AcpiSetItem(0x13060046, 1, 3);
    m_board.AcpiSetItem(0x13060048, 0x66339901, 1);
    EXPECT_EQ(Run({"leds"}), 0);
    EXPECT_NE(m_out.str().find("onboard   on  firmware R 255 G   0 B   0  effect 2"), std::string::npos);
    EXPECT_NE(m_out.str().find("strip 1   on  firmware R 153 G 102 B  51  effect 1"), std::string::npos);
    EXPECT_EQ(Run({"trace", "1"}), 0);
    EXPECT_NE(m_out.str().find("item 0x13060048 <- 0x66339901  flags 1  strip 1"), std::string::npos);
    EXPECT_EQ(m_out.str().find("0x13060046"), std::string::npos);
}

TEST_F(BoardControlTest, UnknownCommandsShowTheUsage)
{
    EXPECT_EQ(Run({"profile", "rainbow"}), 2);
    EXPECT_NE(m_err.str().find("commands:"), std::string::npos);
    EXPECT_EQ(Run({"temperature", "-3"}), 2);
    EXPECT_EQ(Run({"fault", "fail", "iAcpiNothing"}), 2);
    EXPECT_EQ(Run({}), 2);
}

} // namespace
} // namespace ovled::sim

namespace ovled::sim {
namespace {

TEST(BoardSample, CarriesEveryLedAndEachTracedWriteOnce)
{
    VirtualBoard board;
    BoardModel& model = board.Model();
    model.SetTemperatureTenths(455);
    ASSERT_TRUE(model.SetItem(0x13060046, 1, 3));
    ASSERT_TRUE(model.SetItem(0x13060047, 1, 3));
    ASSERT_TRUE(model.SetItem(0x13060049, 0x00FF00, 3));

    std::uint64_t seen = 0;
    std::ostringstream first;
    PrintSample(model, seen, first);
    const std::string line = first.str();
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one sample, one line";
    EXPECT_NE(line.find("\"temp\":455"), std::string::npos);
    EXPECT_NE(line.find("\"strips\":3"), std::string::npos);
    EXPECT_NE(line.find("{\"dev\":-1,"), std::string::npos);
    EXPECT_NE(line.find("{\"dev\":2,"), std::string::npos);
    EXPECT_NE(line.find("," + std::to_string(static_cast<unsigned>(TraceKind::ItemWrite)) + "," +
                        std::to_string(0x13060049u) + "," + std::to_string(0x00FF00u)),
              std::string::npos);
    EXPECT_EQ(seen, 3u);
    EXPECT_NE(line.find("\"traced\":3,"), std::string::npos);

    std::ostringstream second;
    PrintSample(model, seen, second);
    EXPECT_NE(second.str().find("\"trace\":[]"), std::string::npos) << "nothing new was written";
}

TEST(BoardSample, TraceSinceSkipsWhatTheRingHasOverwritten)
{
    VirtualBoard board;
    BoardModel& model = board.Model();
    for (std::size_t i = 0; i < kTraceCapacity + 10; ++i)
        ASSERT_TRUE(model.SetItem(0x13060049, static_cast<std::uint32_t>(i), 3));
    std::uint64_t seen = 0;
    const std::vector<TraceEntry> entries = model.TraceSince(seen);
    ASSERT_EQ(entries.size(), kTraceCapacity);
    EXPECT_EQ(entries.front().value, 10u);
    EXPECT_EQ(entries.back().value, kTraceCapacity + 9);
    EXPECT_EQ(seen, kTraceCapacity + 10);
    EXPECT_TRUE(model.TraceSince(seen).empty());
}

} // namespace
} // namespace ovled::sim
