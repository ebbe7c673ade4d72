#include "devices/CpuTemperature.h"

#include "hardware/ItemIds.h"
#include "tests/support/BoardScope.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ovled {
namespace {

using test::BoardScope;

constexpr std::uint32_t kSystemTemperature = 0x06030001; // kind 3, first in the group
constexpr std::uint32_t kCpuVoltage = 0x06010002;        // kind 1, names the CPU
constexpr std::uint32_t kCpuTemperature = 0x06030003;    // kind 3

// Renames and re-ids items of the board's sensor group, as another board's firmware would list them.
void EditItem(BoardScope& scope, std::uint32_t id, const char* name, std::uint32_t newId = 0)
{
    scope.Model().With([&](sim::BoardState& state) {
        for (sim::ItemRecord& item : state.items) {
            if (item.id != id)
                continue;
            std::memset(item.name, 0, sizeof item.name);
            std::strncpy(item.name, name, sizeof item.name - 1);
            if (newId)
                item.id = newId;
        }
    });
}

std::uint32_t FoundId(BoardScope& scope)
{
    const auto item = FindCpuTemperatureItem(scope.Hardware().Firmware());
    return item ? item->GetId() : 0;
}

std::uint32_t GroupListCalls(BoardScope& scope)
{
    return scope.Model().GetCounters().calls[static_cast<unsigned>(sim::Method::GGrp)];
}

TEST(CpuTemperatureSearch, TakesTheFirstTemperatureItemThatNamesTheCpu)
{
    BoardScope scope;
    EXPECT_EQ(FoundId(scope), kCpuTemperature) << "a temperature of another sensor and a CPU voltage come first";

    EditItem(scope, kSystemTemperature, "Cpu Socket");
    EXPECT_EQ(FoundId(scope), kSystemTemperature) << "the group's order decides between two";
}

TEST(CpuTemperatureSearch, FindsTheCpuInAnyLetterCaseButOnlyInTemperatureItems)
{
    BoardScope scope;
    EditItem(scope, kCpuTemperature, "Package (cpu) die");
    EXPECT_EQ(FoundId(scope), kCpuTemperature);
    EditItem(scope, kCpuTemperature, "cPu");
    EXPECT_EQ(FoundId(scope), kCpuTemperature);
    EditItem(scope, kCpuTemperature, "C P U");
    EXPECT_EQ(FoundId(scope), 0u);

    EditItem(scope, kCpuTemperature, "CPU Temperature", 0x06010003);
    EXPECT_EQ(FoundId(scope), 0u) << "kind 1 is no temperature, whatever its name";
    EditItem(scope, kCpuVoltage, "CPU Voltage", 0x06030002);
    EXPECT_EQ(FoundId(scope), 0x06030002u);
}

TEST(CpuTemperatureSearch, FindsNothingWithoutTheItemOrTheGroup)
{
    {
        BoardScope scope(sim::Profile::NoSensor);
        EXPECT_EQ(FindCpuTemperatureItem(scope.Hardware().Firmware()), nullptr);
    }
    {
        BoardScope scope(sim::Profile::Empty);
        EXPECT_EQ(FindCpuTemperatureItem(scope.Hardware().Firmware()), nullptr);
    }
    {
        BoardScope scope;
        scope.Model().SetFaults({.failingMethods = 1u << static_cast<unsigned>(sim::Method::GGrp)});
        EXPECT_EQ(FindCpuTemperatureItem(scope.Hardware().Firmware()), nullptr) << "a group that cannot be listed";
    }
}

TEST(CpuTemperatureSearch, MatchesCpuAsTheCLocaleUpperCasesIt)
{
    EXPECT_TRUE(NamesCpu(L"cpu"));
    EXPECT_TRUE(NamesCpu(L"xxCpUxx"));
    EXPECT_FALSE(NamesCpu(L"cp"));
    EXPECT_FALSE(NamesCpu(L""));
    EXPECT_FALSE(NamesCpu(L"\u0441pu")) << "a Cyrillic es is no C";
}

TEST(CpuTemperatureSource, GivesWholeDegreesOfTheItemsTenths)
{
    BoardScope scope;
    CpuTemperatureSource source(scope.Hardware().Firmware());
    scope.Model().SetTemperatureTenths(455);
    EXPECT_EQ(source.ReadCelsius(), 45);
    scope.Model().SetTemperatureTenths(459);
    EXPECT_EQ(source.ReadCelsius(), 45) << "tenths are cut off, not rounded";
    scope.Model().SetTemperatureTenths(9);
    EXPECT_EQ(source.ReadCelsius(), 0);
    scope.Model().SetTemperatureTenths(0xFFFFFFFF);
    EXPECT_EQ(source.ReadCelsius(), 429496729) << "an unsigned division";
}

TEST(CpuTemperatureSource, AFailedReadRepeatsThePreviousReading)
{
    BoardScope scope;
    CpuTemperatureSource source(scope.Hardware().Firmware());
    const sim::Faults failingReads{.failingMethods = 1u << static_cast<unsigned>(sim::Method::GetItem)};

    scope.Model().SetFaults(failingReads);
    EXPECT_EQ(source.ReadCelsius(), std::nullopt) << "no reading yet";
    scope.Model().ClearFaults();
    scope.Model().SetTemperatureTenths(612);
    EXPECT_EQ(source.ReadCelsius(), 61);
    scope.Model().SetFaults(failingReads);
    scope.Model().SetTemperatureTenths(300);
    EXPECT_EQ(source.ReadCelsius(), 61);
}

TEST(CpuTemperatureSource, SearchesOnceAndRemembersWhatItFound)
{
    BoardScope scope;
    CpuTemperatureSource source(scope.Hardware().Firmware());
    EXPECT_EQ(source.Searches(), 0) << "the search waits for the first reading";
    ASSERT_TRUE(source.ReadCelsius());
    const std::uint32_t lists = GroupListCalls(scope);
    EditItem(scope, kSystemTemperature, "CPU Socket");
    scope.Model().SetTemperatureTenths(333);
    EXPECT_EQ(source.ReadCelsius(), 33) << "still the item found first";
    EXPECT_EQ(source.Searches(), 1);
    EXPECT_EQ(GroupListCalls(scope), lists);
}

TEST(CpuTemperatureSource, RemembersThatThereIsNoItem)
{
    BoardScope scope(sim::Profile::NoSensor);
    CpuTemperatureSource source(scope.Hardware().Firmware());
    EXPECT_EQ(source.ReadCelsius(), std::nullopt);
    const std::uint32_t lists = GroupListCalls(scope);
    EditItem(scope, kSystemTemperature, "CPU Socket");
    EXPECT_EQ(source.ReadCelsius(), std::nullopt) << "no second search";
    EXPECT_EQ(source.Searches(), 1);
    EXPECT_EQ(GroupListCalls(scope), lists);
}

} // namespace
} // namespace ovled
