// The embedded controller reached through the "ovio.dll" loader and the virtual board's port-I/O
// library (and its broken variants), in the shared board.
#include "hardware/EcPort.h"
#include "hardware/win32/PortIoLibrary.h"
#include "platform/Paths.h"
#include "simulator/win32/SharedBoardStore.h"
#include "tests/support/SteppedClock.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace ovled {
namespace {

class PortIoLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_store = sim::SharedBoardStore::Open();
        ASSERT_NE(m_store, nullptr);
        m_board = std::make_unique<sim::BoardModel>(*m_store);
        m_board->Reset(sim::Profile::SwitchAndStrips);
    }
    std::uint32_t PortAccesses()
    {
        const sim::Counters counters = m_board->GetCounters();
        return counters.portReads + counters.portWrites;
    }

    std::unique_ptr<sim::SharedBoardStore> m_store;
    std::unique_ptr<sim::BoardModel> m_board;
    test::SteppedClock m_clock;
};

TEST_F(PortIoLibraryTest, RegistersAreReachedThroughTheLibrary)
{
    PortIoLibrary library;
    EcPort port(library, m_clock);
    EXPECT_EQ(port.LoadPortLibrary(), kPortIoReady);
    port.WriteRegister(0, ec::kRedRegister, 0x5A);
    EXPECT_EQ(m_board->EcRegister(0, ec::kRedRegister), 0x5A);
    m_board->With([](sim::BoardState& state) { state.ec.registers[1][0x20] = 0x66; });
    EXPECT_EQ(port.ReadRegister(1, 0x20), 0x66);
    EXPECT_EQ(m_clock.TotalSlept().count(), 0);
}

TEST_F(PortIoLibraryTest, ControllerThatStaysBusyCostsAtMostTwelvePausesPerWrite)
{
    m_board->With([](sim::BoardState& state) { state.faults.ecStaysBusy = 1; });
    PortIoLibrary library;
    EcPort port(library, m_clock);
    port.WriteRegister(0, ec::kRedRegister, 0x5A);
    EXPECT_EQ(m_clock.TotalSlept().count(), 12);
    EXPECT_EQ(m_board->EcRegister(0, ec::kRedRegister), 0);
}

TEST_F(PortIoLibraryTest, MissingLibraryIsTriedAgainAndSkipsTheAccess)
{
    PortIoLibrary library(L"ovio-not-there.dll");
    EcPort port(library, m_clock);
    EXPECT_EQ(port.LoadPortLibrary(), kPortIoNotLoaded);
    port.WriteRegister(0, ec::kRedRegister, 1);
    EXPECT_EQ(port.ReadRegister(0, ec::kRedRegister), 0);
    EXPECT_EQ(port.LoadPortLibrary(), kPortIoNotLoaded);
    EXPECT_EQ(PortAccesses(), 0u);
}

TEST_F(PortIoLibraryTest, BrokenLibrariesSayWhatIsWrong)
{
    PortIoLibrary noOpen(L"ovio-no-open.dll");
    EcPort withoutOpen(noOpen, m_clock);
    EXPECT_EQ(withoutOpen.LoadPortLibrary(), kPortIoNoOpen);
    withoutOpen.WriteRegister(0, ec::kBlueRegister, 7); // the byte entry points are there
    EXPECT_EQ(m_board->EcRegister(0, ec::kBlueRegister), 7);

    PortIoLibrary openFails(L"ovio-open-fails.dll");
    EXPECT_EQ(EcPort(openFails, m_clock).LoadPortLibrary(), kPortIoOpenFailed);

    PortIoLibrary noBytes(L"ovio-no-byte-access.dll");
    EcPort withoutBytes(noBytes, m_clock);
    EXPECT_EQ(withoutBytes.LoadPortLibrary(), kPortIoReady);
    const std::uint32_t before = PortAccesses();
    withoutBytes.WriteRegister(0, ec::kGreenRegister, 9);
    EXPECT_EQ(withoutBytes.ReadRegister(0, ec::kGreenRegister), 0);
    EXPECT_EQ(PortAccesses(), before);
}

TEST_F(PortIoLibraryTest, NeverLoadedFromTheCurrentFolderOrPath)
{
    test::TempFolder elsewhere;
    const auto copy = elsewhere / "ovio-elsewhere.dll";
    std::filesystem::copy_file(platform::ExecutableDirectory() / "ovio.dll", copy);
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(elsewhere.Path().c_str()));
    const std::wstring path = _wgetenv(L"PATH") ? _wgetenv(L"PATH") : L"";
    _wputenv_s(L"PATH", (elsewhere.Path().wstring() + L";" + path).c_str());
    SetEnvironmentVariableW(L"PATH", (elsewhere.Path().wstring() + L";" + path).c_str());

    PortIoLibrary library(L"ovio-elsewhere.dll");
    EXPECT_EQ(library.Load(), kPortIoNotLoaded);
    // The ordinary search would have found it.
    win32::UniqueModule ordinary(LoadLibraryW(L"ovio-elsewhere.dll"));
    EXPECT_TRUE(ordinary);
    ordinary.reset();

    SetEnvironmentVariableW(L"PATH", path.c_str());
    _wputenv_s(L"PATH", path.c_str());
    SetCurrentDirectoryW(previous);
}

TEST_F(PortIoLibraryTest, NeverLoadedFromTheSystemFolder)
{
    // version.dll is in System32 only; an "ovio.dll" put there would be found the same way.
    PortIoLibrary library(L"version.dll");
    EXPECT_EQ(library.Load(), kPortIoNotLoaded);
}

} // namespace
} // namespace ovled
