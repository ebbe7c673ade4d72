// The Lighting class: its answers and refusals over fake devices, and a lights-off rule driven through it
// on the virtual board.
#include "audio/SilentCapture.h"
#include "devices/Process.h"
#include "hardware/win32/HeldConnection.h"
#include "lighting/win32/Lighting.h"
#include "platform/win32/Unique.h"
#include "tests/support/BoardTrace.h"
#include "tests/support/FakeDevices.h"
#include "tests/support/TempFolder.h"
#include "tests/windows/support/VirtualServer.h"
#include "tests/windows/support/Wait.h"

#include <gtest/gtest.h>

namespace ovled::win32 {
namespace {

ComPtr<ILighting> CreateLighting()
{
    ComPtr<ILighting> lighting;
    EXPECT_EQ(LightingClassFactory()->CreateInstance(nullptr, IID_ILighting, lighting.put_void()), S_OK);
    return lighting;
}

TEST(Lighting, EverySetterChecksItsValueAndEveryDeviceItsIndex)
{
    test::FakeLightingRoot root(2);
    const ComPtr<ILighting> lighting = CreateLighting();
    ASSERT_TRUE(lighting);
    UniqueBstr late(SysAllocString(L"25:00")), early(SysAllocString(L"22:30")), empty(SysAllocString(L""));
    LONG value = 0;
    UniqueBstr name;
    const struct {
        const char* what;
        HRESULT expected;
        HRESULT actual;
    } rows[] = {
        {"brightness 140", E_INVALIDARG, lighting->put_Brightness(140)},
        {"brightness -1", E_INVALIDARG, lighting->put_Brightness(-1)},
        {"brightness 50", S_OK, lighting->put_Brightness(50)},
        {"a window from 25:00", E_INVALIDARG, lighting->put_NightStart(late.get())},
        {"a window to an empty time", E_INVALIDARG, lighting->put_NightEnd(empty.get())},
        {"a window from 22:30", S_OK, lighting->put_NightStart(early.get())},
        {"off for -1 minutes", E_INVALIDARG, lighting->LightsOff(-1)},
        {"off for eight days", E_INVALIDARG, lighting->LightsOff(8 * 24 * 60)},
        {"strip 2 of two", DISP_E_BADINDEX, lighting->get_DeviceName(2, name.put())},
        {"device -2", DISP_E_BADINDEX, lighting->get_DeviceMode(-2, &value)},
        {"the onboard zone", S_OK, lighting->get_DeviceKind(-1, &value)},
        {"no result", E_POINTER, lighting->get_DeviceCount(nullptr)},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.actual, row.expected) << row.what;

    UniqueBstr start;
    ASSERT_EQ(lighting->get_NightStart(start.put()), S_OK);
    EXPECT_STREQ(start.get(), L"22:30");
    ASSERT_EQ(lighting->get_Brightness(&value), S_OK);
    EXPECT_EQ(value, 50);
    ASSERT_EQ(lighting->get_DeviceCount(&value), S_OK);
    EXPECT_EQ(value, 3);
}

// A rule driven through the interface, out of process to the firmware: the process's root over the
// virtual board's automation server, as the service has it.
TEST(Lighting, LightsOffDarkensEveryDeviceOnTheBoardAndLightsOnBringsTheModesBack)
{
    ScopedComInit com(COINIT_MULTITHREADED);
    test::VirtualServer server(sim::Profile::NoSwitch); // the onboard colour through its item: no port I/O here
    ASSERT_TRUE(server.Ready());
    sim::BoardModel& board = server.Board();
    test::TempFolder folder;
    HeldAutomationTransport firmware;
    NoPortIo ports;
    Process root({firmware, firmware, ports, folder.Path(), platform::SystemClock(),
                  [] { return std::make_unique<SilentCapture>(); }});
    root.Settings().SetMode(kModeThermal);
    root.Settings().SetEnabled(true);
    root.Settings().SetExternalMode(1, kModeThermal);
    root.Settings().SetExternalEnable(0, 1);
    board.SetTemperatureTenths(600);
    ASSERT_TRUE(root.Manager().WaitUntilApplied());
    const ComPtr<ILighting> lighting = CreateLighting();
    ASSERT_TRUE(lighting);
    auto allDark = [&] {
        for (std::uint32_t strip = 0; strip < board.StripCount(); ++strip) {
            if (test::Shown(board.Strip(strip)) != Rgb{})
                return false;
        }
        return test::Shown(board.Onboard()) == Rgb{};
    };

    ASSERT_EQ(lighting->LightsOff(60), S_OK);
    EXPECT_TRUE(test::WaitUntil(allDark)) << "every device, strip 0 in mode none too";
    LONG reasons = 0;
    EXPECT_EQ(lighting->get_OffReasons(&reasons), S_OK);
    EXPECT_EQ(reasons, 8);

    ASSERT_EQ(lighting->LightsOn(), S_OK);
    EXPECT_TRUE(test::WaitUntil([&] {
        return test::Shown(board.Onboard()) == (Rgb{255, 0, 0}) && test::Shown(board.Strip(1)) == (Rgb{255, 0, 0});
    })) << "the thermal devices show 60 degrees again at once";
    EXPECT_FALSE(board.Strip(0).hostControl) << "a device in mode none is given back to the firmware";
    root.ShutdownLighting();
}

} // namespace
} // namespace ovled::win32
