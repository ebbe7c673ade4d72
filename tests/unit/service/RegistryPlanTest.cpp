#include "service/RegistryPlan.h"
#include "tests/unit/service/FakeRegistry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ovled::service {
namespace {

using test::FakeRegistry;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

const std::wstring kPath = L"C:\\Program Files\\Orvex's LED\\OvLedService.exe";
const std::wstring kClassKey = L"CLSID\\{361DC8C5-F8D3-4CA5-856B-946A98360025}";

class RegistryPlanTest : public ::testing::Test {
protected:
    std::optional<std::wstring> Read(const std::wstring& path, const std::wstring& name = L"")
    {
        return m_registry.ReadString(path, name);
    }

    FakeRegistry m_registry;
    const RegistryPlan m_plan = LightControlClassPlan(kPath);
};

TEST_F(RegistryPlanTest, RegisteringWritesTheProgIdsAndTheClassKey)
{
    ASSERT_EQ(ApplyPlan(m_registry, m_plan), kErrorSuccess);

    EXPECT_THAT(m_registry.AllKeys(),
                UnorderedElementsAre(L"ovledservice.lightcontrol.1", L"ovledservice.lightcontrol.1\\clsid",
                                     L"ovledservice.lightcontrol", L"ovledservice.lightcontrol\\curver", L"clsid",
                                     L"clsid\\{361dc8c5-f8d3-4ca5-856b-946a98360025}",
                                     L"clsid\\{361dc8c5-f8d3-4ca5-856b-946a98360025}\\progid",
                                     L"clsid\\{361dc8c5-f8d3-4ca5-856b-946a98360025}\\versionindependentprogid",
                                     L"clsid\\{361dc8c5-f8d3-4ca5-856b-946a98360025}\\programmable",
                                     L"clsid\\{361dc8c5-f8d3-4ca5-856b-946a98360025}\\localserver32",
                                     L"clsid\\{361dc8c5-f8d3-4ca5-856b-946a98360025}\\typelib",
                                     L"clsid\\{361dc8c5-f8d3-4ca5-856b-946a98360025}\\version"));
    EXPECT_EQ(Read(L"OvLedService.LightControl.1"), L"LightControl Class");
    EXPECT_EQ(Read(L"OvLedService.LightControl.1\\CLSID"), L"{361DC8C5-F8D3-4CA5-856B-946A98360025}");
    EXPECT_EQ(Read(L"OvLedService.LightControl"), L"LightControl Class");
    EXPECT_EQ(Read(L"OvLedService.LightControl\\CurVer"), L"OvLedService.LightControl.1");
    EXPECT_EQ(Read(kClassKey), L"LightControl Class");
    EXPECT_EQ(Read(kClassKey, L"AppID"), L"{FAFF09A7-D8EC-4433-8397-431DB616F5BE}");
    EXPECT_EQ(Read(kClassKey + L"\\ProgID"), L"OvLedService.LightControl.1");
    EXPECT_EQ(Read(kClassKey + L"\\VersionIndependentProgID"), L"OvLedService.LightControl");
    EXPECT_THAT(m_registry.Values(kClassKey + L"\\Programmable"), IsEmpty());
    EXPECT_EQ(Read(kClassKey + L"\\TypeLib"), L"{EDBE5A7E-664F-4DD7-9025-6A8DFED813CF}");
    EXPECT_EQ(Read(kClassKey + L"\\Version"), L"1.0");
    EXPECT_THAT(m_registry.Values(L"CLSID"), IsEmpty());
}

TEST_F(RegistryPlanTest, TheServerPathIsQuotedAndKeepsItsSingleQuotes)
{
    ASSERT_EQ(ApplyPlan(m_registry, m_plan), kErrorSuccess);
    EXPECT_EQ(Read(kClassKey + L"\\LocalServer32"), L"\"C:\\Program Files\\Orvex's LED\\OvLedService.exe\"");
}

TEST_F(RegistryPlanTest, RegisteringAgainReplacesTheWholeClassKeyButNotTheOtherClasses)
{
    m_registry.CreateKey(kClassKey + L"\\InprocServer32");
    m_registry.SetString(kClassKey, L"Stale", L"x");
    m_registry.CreateKey(kClassKey + L"\\Programmable\\Leftover");
    m_registry.CreateKey(L"CLSID\\{00000000-0000-0000-0000-000000000001}");
    m_registry.SetString(L"CLSID\\{00000000-0000-0000-0000-000000000001}", L"", L"other");

    ASSERT_EQ(ApplyPlan(m_registry, m_plan), kErrorSuccess);
    EXPECT_FALSE(m_registry.KeyExists(kClassKey + L"\\InprocServer32"));
    EXPECT_FALSE(m_registry.KeyExists(kClassKey + L"\\Programmable\\Leftover"));
    EXPECT_EQ(Read(kClassKey, L"Stale"), std::nullopt);
    EXPECT_EQ(Read(L"CLSID\\{00000000-0000-0000-0000-000000000001}"), L"other");
    EXPECT_THAT(CheckPlan(m_registry, m_plan), IsEmpty());
}

TEST_F(RegistryPlanTest, ApplyingStopsAtTheFirstKeyThatCannotBeWritten)
{
    m_registry.DenyWriting(L"CLSID");
    EXPECT_EQ(ApplyPlan(m_registry, m_plan), FakeRegistry::kAccessDenied);
    EXPECT_FALSE(m_registry.KeyExists(kClassKey));
}

TEST_F(RegistryPlanTest, CheckingNamesEveryDifference)
{
    ASSERT_EQ(ApplyPlan(m_registry, m_plan), kErrorSuccess);
    EXPECT_THAT(CheckPlan(m_registry, m_plan), IsEmpty());

    m_registry.SetString(kClassKey + L"\\Version", L"", L"2.0");
    m_registry.SetString(kClassKey + L"\\ProgID", L"Extra", L"1");
    m_registry.SetNumber(kClassKey + L"\\TypeLib", L"", 7);
    m_registry.CreateKey(kClassKey + L"\\InprocServer32");
    m_registry.DeleteTree(L"OvLedService.LightControl\\CurVer");
    m_registry.DeleteValue(kClassKey, L"AppID");

    EXPECT_THAT(CheckPlan(m_registry, m_plan),
                UnorderedElementsAre(L"missing key OvLedService.LightControl\\CurVer",
                                     L"missing value " + kClassKey + L" AppID",
                                     L"unexpected key " + kClassKey + L"\\InprocServer32",
                                     L"unexpected value " + kClassKey + L"\\ProgID Extra",
                                     L"value " + kClassKey +
                                         L"\\TypeLib (default) is \"7\", not "
                                         L"\"{EDBE5A7E-664F-4DD7-9025-6A8DFED813CF}\"",
                                     L"value " + kClassKey + L"\\Version (default) is \"2.0\", not \"1.0\""));
}

TEST_F(RegistryPlanTest, UnregisteringRemovesEverythingItWroteAndKeepsTheClsidContainer)
{
    ASSERT_EQ(ApplyPlan(m_registry, m_plan), kErrorSuccess);
    ASSERT_EQ(RemovePlan(m_registry, m_plan), kErrorSuccess);
    EXPECT_THAT(m_registry.AllKeys(), ElementsAre(L"clsid"));
}

TEST_F(RegistryPlanTest, UnregisteringKeepsKeysThatHoldSomethingElseButDropsTheNamedValues)
{
    ASSERT_EQ(ApplyPlan(m_registry, m_plan), kErrorSuccess);
    m_registry.CreateKey(kClassKey + L"\\InprocHandler32");
    m_registry.CreateKey(L"OvLedService.LightControl\\Shell");

    ASSERT_EQ(RemovePlan(m_registry, m_plan), kErrorSuccess);
    EXPECT_THAT(m_registry.AllKeys(),
                UnorderedElementsAre(L"clsid", L"clsid\\{361dc8c5-f8d3-4ca5-856b-946a98360025}",
                                     L"clsid\\{361dc8c5-f8d3-4ca5-856b-946a98360025}\\inprochandler32",
                                     L"ovledservice.lightcontrol", L"ovledservice.lightcontrol\\shell"));
    EXPECT_EQ(Read(kClassKey, L"AppID"), std::nullopt);
    EXPECT_EQ(Read(kClassKey), L"LightControl Class") << "a kept key keeps its default value";
}

TEST_F(RegistryPlanTest, UnregisteringWhatIsNotThereSucceeds)
{
    EXPECT_EQ(RemovePlan(m_registry, m_plan), kErrorSuccess);
    EXPECT_THAT(m_registry.AllKeys(), IsEmpty());
}

} // namespace
} // namespace ovled::service
