// The executable's command line and exit codes, run from a fresh copy.
#include "platform/Paths.h"
#include "service/win32/Win32Registry.h"
#include "tests/windows/service/support/ServerCopy.h"

#include <gtest/gtest.h>

namespace ovled::test {
namespace {

const std::wstring kClassKey = L"CLSID\\{361DC8C5-F8D3-4CA5-856B-946A98360025}";
const std::wstring kAppIdKey = L"AppID\\{FAFF09A7-D8EC-4433-8397-431DB616F5BE}";

class CommandLineProcessTest : public ::testing::Test {
protected:
    bool ClassRegistered() { return m_classes.KeyExists(kClassKey + L"\\LocalServer32"); }

    ServerCopy m_copy;
    win32::RegistryEditor m_classes = win32::RegistryEditor::MachineClasses();
};

TEST_F(CommandLineProcessTest, ANeverRegisteredProgramEndsWithCode2WhateverItsNonSwitchArguments)
{
    for (const wchar_t* arguments : {L"", L"-Embedding", L"/RegServer:x", L"RegServer", L"/RegServerX"}) {
        EXPECT_EQ(m_copy.Run(arguments).exitCode, 2u) << "arguments: " << testing::PrintToString(arguments);
        EXPECT_FALSE(ClassRegistered());
    }
}

TEST_F(CommandLineProcessTest, SwitchesActInAnyCaseWithEitherLeadingCharacter)
{
    EXPECT_EQ(m_copy.Run(L"/regserver").exitCode, 0u);
    EXPECT_TRUE(ClassRegistered());
    EXPECT_EQ(m_copy.Run(L"-UNREGSERVER").exitCode, 0u);
    EXPECT_FALSE(ClassRegistered());
}

TEST_F(CommandLineProcessTest, RegistrationSwitchesWinOverServiceWhereverTheyStand)
{
    EXPECT_EQ(m_copy.Run(L"/Service /RegServer").exitCode, 0u);
    EXPECT_TRUE(ClassRegistered());
    EXPECT_FALSE(QueryOvLedService()) << "registered as a local server only";
    EXPECT_EQ(m_classes.ReadString(kAppIdKey, L"LocalService"), std::nullopt);
}

// Anyone who may write the installation folder could put a DLL there under the name of a system DLL that
// is not one of the KnownDLLs; a static import of it would load it into the service (LocalSystem) and into
// the installer's registration steps before any of our code ran.
TEST_F(CommandLineProcessTest, SystemLibrariesPlantedBesideTheExecutableAreNeverLoaded)
{
    const auto planted = platform::ExecutableDirectory() / "planted.dll";
    for (const char* name : {"avrt.dll", "winmm.dll"})
        std::filesystem::copy_file(planted, m_copy.Folder() / name);
    for (const wchar_t* arguments : {L"", L"/RegTypeLib"})
        m_copy.Run(arguments);
    m_copy.Run(L"/UnregTypeLib");
    for (const char* name : {"avrt.dll.loaded", "winmm.dll.loaded"})
        EXPECT_FALSE(std::filesystem::exists(m_copy.Folder() / name)) << name;
}

TEST_F(CommandLineProcessTest, AFailingSwitchEndsWithItsFailure)
{
    // Nothing is registered, so the type library cannot be unregistered.
    const DWORD code = m_copy.Run(L"/UnregServer").exitCode;
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(code))) << std::hex << code;
}

} // namespace
} // namespace ovled::test
