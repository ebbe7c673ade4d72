#include "hardware/BiosItemRegistry.h"
#include "hardware/ItemIds.h"
#include "simulator/VirtualBoard.h"
#include "tests/support/BoardScope.h"

#include <gtest/gtest.h>

namespace ovled {
namespace {

using sim::Malformation;
using sim::Method;

std::uint32_t Calls(sim::BoardModel& model, Method method)
{
    return model.GetCounters().calls[static_cast<int>(method)];
}

std::uint32_t AllCalls(sim::BoardModel& model)
{
    std::uint32_t total = 0;
    for (std::uint32_t calls : model.GetCounters().calls)
        total += calls;
    return total;
}

class RegistryTest : public ::testing::Test {
protected:
    sim::BoardModel& Model() { return m_board.Model(); }
    void Fault(void (*change)(sim::Faults&))
    {
        sim::Faults faults = Model().GetFaults();
        change(faults);
        Model().SetFaults(faults);
    }

    sim::VirtualBoard m_board;
    BiosItemRegistry m_registry{m_board};
};

TEST_F(RegistryTest, KindAndCategoryPlayNoPartInFindingAnItem)
{
    EXPECT_TRUE(m_registry.Exists(0x13060040));
    EXPECT_TRUE(m_registry.Exists(0x13000040));
    EXPECT_EQ(m_registry.Get(0x13000040), m_registry.Get(0x13F60040));
    EXPECT_EQ(m_registry.Get(0x13000040)->GetId(), items::kOnboardSwitch);

    sim::VirtualBoard noSwitch(sim::Profile::NoSwitch);
    BiosItemRegistry other(noSwitch);
    EXPECT_FALSE(other.Exists(0x13060040));
    EXPECT_FALSE(other.Exists(0x13000040));
}

TEST_F(RegistryTest, LoadsAGroupOnceAndThenAnswersWithoutTheFirmware)
{
    ASSERT_NE(m_registry.Get(items::kStripSelector), nullptr);
    EXPECT_EQ(Calls(Model(), Method::GGrp), 1u);
    const std::uint32_t described = Calls(Model(), Method::CallMethod);
    EXPECT_EQ(described, 9u); // every item of group 0x13 in the switch-and-strips profile

    const std::uint32_t before = AllCalls(Model());
    EXPECT_NE(m_registry.Get(items::kStripColor), nullptr);
    EXPECT_NE(m_registry.Get(items::kAuxLed), nullptr);
    EXPECT_EQ(m_registry.Get(0x130600FF), nullptr); // listed group, unlisted index
    EXPECT_EQ(AllCalls(Model()), before);
}

TEST_F(RegistryTest, EmptyGroupIsCachedToo)
{
    EXPECT_EQ(m_registry.Get(0x20000001), nullptr);
    const std::uint32_t before = AllCalls(Model());
    EXPECT_EQ(m_registry.Get(0x20000002), nullptr);
    EXPECT_FALSE(m_registry.Exists(0x20000001));
    EXPECT_EQ(AllCalls(Model()), before);
    EXPECT_EQ(Calls(Model(), Method::CallMethod), 0u);
}

TEST_F(RegistryTest, GroupWhoseLoadFailedStaysEmptyForTheRegistrysLife)
{
    Fault([](sim::Faults& f) { f.serverMissing = 1; });
    EXPECT_FALSE(m_registry.Exists(items::kOnboardSwitch));
    Model().ClearFaults();
    EXPECT_FALSE(m_registry.Exists(items::kOnboardSwitch));
    EXPECT_EQ(AllCalls(Model()), 0u);
    EXPECT_TRUE(m_registry.Exists(0x06030003)); // another group loads normally
}

TEST_F(RegistryTest, ItemsActOnTheRegistrysBoard)
{
    BiosItem* effect = m_registry.Get(items::kOnboardEffect);
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->SetValueEx(0x00FF0001, 1), 1);
    EXPECT_EQ(Model().Onboard().blue, 0);
    EXPECT_EQ(Model().Onboard().green, 0xFF);
    EXPECT_EQ(Model().Onboard().effectCode, 1);
}

TEST_F(RegistryTest, ItemsGetTheClassTheirKindCallsFor)
{
    EXPECT_NE(dynamic_cast<BiosStringItem*>(m_registry.Get(0x06080007)), nullptr);
    EXPECT_NE(dynamic_cast<BiosBooleanItem*>(m_registry.Get(0x06070008)), nullptr);
    EXPECT_NE(dynamic_cast<BiosCompositedItem*>(m_registry.Get(0x060D0009)), nullptr);
    EXPECT_NE(dynamic_cast<BiosNumberItem*>(m_registry.Get(0x06030003)), nullptr);
    EXPECT_EQ(m_registry.Get(0x06080007)->IndexToString(2), L"Turbo");
    EXPECT_EQ(m_registry.Get(0x06030003)->GetName(), L"CPU Temperature");
}

TEST_F(RegistryTest, TwoItemsWithOneKeyKeepTheFirst)
{
    Model().With([](sim::BoardState& state) {
        sim::ItemRecord copy = state.items[0];
        copy.id = 0x13070040; // same group and index as the switch, another kind
        copy.selector = 0x5E1EFFFF;
        state.items[state.itemCount++] = copy;
    });
    BiosItem* item = m_registry.Get(0x13070040);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetId(), items::kOnboardSwitch);
}

TEST_F(RegistryTest, FailedDescriptionFetchesNeverRegisterAWrongItem)
{
    Fault([](sim::Faults& f) { f.failingMethods = 1u << static_cast<int>(Method::CallMethod); });
    EXPECT_EQ(m_registry.Get(items::kOnboardSwitch), nullptr);
    EXPECT_EQ(m_registry.Get(items::kStripColor), nullptr);
}

TEST_F(RegistryTest, MalformedDescriptionSpoilsOnlyItsOwnItem)
{
    for (auto how : {Malformation::TooFewElements, Malformation::Empty, Malformation::Truncated,
                     Malformation::LengthPastEnd, Malformation::HugeCount, Malformation::Oversized}) {
        SCOPED_TRACE(sim::MalformationName(how));
        sim::VirtualBoard board;
        sim::Faults faults{};
        faults.descriptionMalformation = static_cast<std::uint32_t>(how);
        faults.descriptionTarget = items::RegistryKey(items::kStripEffect);
        faults.groupTarget = 0xFFFFFFFF;
        board.Model().SetFaults(faults);
        BiosItemRegistry registry(board);
        EXPECT_NE(registry.Get(items::kStripColor), nullptr);
        EXPECT_NE(registry.Get(items::kOnboardSwitch), nullptr);
        if (how == Malformation::TooFewElements || how == Malformation::Empty) {
            EXPECT_EQ(registry.Get(items::kStripEffect), nullptr);
        }
    }
}

TEST_F(RegistryTest, MalformedGroupListsNeverWalkPastTheirBytes)
{
    for (auto how : {Malformation::HugeCount, Malformation::LengthPastEnd, Malformation::Truncated,
                     Malformation::Empty, Malformation::Oversized, Malformation::TooFewElements}) {
        SCOPED_TRACE(sim::MalformationName(how));
        sim::VirtualBoard board;
        sim::Faults faults{};
        faults.groupMalformation = static_cast<std::uint32_t>(how);
        faults.groupTarget = items::kLedGroup;
        board.Model().SetFaults(faults);
        BiosItemRegistry registry(board);
        registry.Get(items::kOnboardSwitch);
        // One description call per element the list really holds, never one per claimed element.
        EXPECT_LE(Calls(board.Model(), Method::CallMethod), 9u);
        EXPECT_TRUE(registry.Exists(0x06030003));
    }
}

TEST(BiosItemEnumerator, WalksTheGroupInListOrder)
{
    sim::VirtualBoard board;
    BiosItemEnumerator walk(board);
    ASSERT_TRUE(walk.Begin(items::kSensorGroup));
    std::vector<std::uint32_t> ids;
    for (; !walk.AtEnd(); walk.Next())
        ids.push_back(walk.CurrentId());
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{0x06030001, 0x06010002, 0x06030003, 0x06000004, 0x06020005,
                                               0x060C0006, 0x06080007, 0x06070008, 0x060D0009}));
    // Next at the end stays at the end and fetches nothing more.
    const std::uint32_t described = board.Model().GetCounters().calls[static_cast<int>(Method::CallMethod)];
    walk.Next();
    EXPECT_TRUE(walk.AtEnd());
    EXPECT_EQ(walk.CurrentId(), 0x060D0009u);
    EXPECT_EQ(board.Model().GetCounters().calls[static_cast<int>(Method::CallMethod)], described);
}

TEST(BiosItemEnumerator, EmptyGroupBeginsAndEndsAtOnce)
{
    sim::VirtualBoard board(sim::Profile::Empty);
    BiosItemEnumerator walk(board);
    EXPECT_TRUE(walk.Begin(items::kLedGroup));
    EXPECT_TRUE(walk.AtEnd());
}

TEST(BiosItemEnumerator, FailedListCallEndsTheWalk)
{
    sim::VirtualBoard board;
    board.Model().With([](sim::BoardState& state) { state.faults.serverMissing = 1; });
    BiosItemEnumerator walk(board);
    EXPECT_FALSE(walk.Begin(items::kSensorGroup));
    EXPECT_TRUE(walk.AtEnd());
    EXPECT_EQ(walk.CreateItem(), nullptr);
}

TEST(BiosItemEnumerator, CreatedItemsBelongToTheCaller)
{
    sim::VirtualBoard board;
    BiosItemEnumerator walk(board);
    ASSERT_TRUE(walk.Begin(items::kSensorGroup));
    walk.Next();
    walk.Next();
    std::unique_ptr<BiosItem> item = walk.CreateItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetId(), 0x06030003u);
    board.Model().SetTemperatureTenths(455);
    std::uint32_t tenths = 0;
    EXPECT_TRUE(item->GetValue(&tenths));
    EXPECT_EQ(tenths, 455u);
}

TEST(BiosItemRegistryOfTheBoard, FindsTheItemsOfTheBoardsProfile)
{
    test::BoardScope scope(sim::Profile::NoSwitch);
    EXPECT_FALSE(scope.Registry().Exists(items::kOnboardSwitch));
    EXPECT_TRUE(scope.Registry().Exists(items::kOnboardColor));
}

} // namespace
} // namespace ovled
