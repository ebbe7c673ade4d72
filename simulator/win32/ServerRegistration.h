// Registration of the virtual automation server under the ProgID "bivorCom.axdata" (machine-wide
// classes, as the service running as LocalSystem needs them), and starting and stopping the running
// server. Used by the control command, the Windows tests and the benchmark; each registers and
// unregisters what it needs itself.
#pragma once

#include <windows.h>

#include <string>

namespace ovled::sim {

// {B8AB22A5-41BC-444D-B862-A7F5D22B6CB7}
inline constexpr CLSID kVirtualAcpiServerClsid = {
    0xb8ab22a5, 0x41bc, 0x444d, {0xb8, 0x62, 0xa7, 0xf5, 0xd2, 0x2b, 0x6c, 0xb7}};
inline constexpr wchar_t kVirtualAcpiServerExe[] = L"VirtualAcpiServer.exe";
// A named mutex the running server owns for its whole life: a stopper waits for it to be let go.
inline constexpr wchar_t kServerRunningMutexName[] = L"OvLedVirtualAcpiServerRunning";

// Writes the ProgID and class keys; the server is started from `serverExe` on activation.
HRESULT RegisterAcpiServer(const std::wstring& serverExe);
// Removes them. S_OK also when they were not there.
HRESULT UnregisterAcpiServer();
bool IsAcpiServerRegistered();

// The server beside the calling executable.
std::wstring ServerBesideThisExecutable();

// Starts the registered server by activating it once (COM starts it as it would for the service);
// it keeps running after the activation is released. COM must be initialised on the calling thread.
HRESULT StartAcpiServer();
// Asks a running server to end and waits (up to `waitMillis`) until it has. False when no server was
// running or it did not end in time.
bool StopAcpiServer(DWORD waitMillis = 10000);
bool IsAcpiServerRunning();

} // namespace ovled::sim
