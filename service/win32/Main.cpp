// The process entry of OvLedService.exe: the power event window first (for every command line), then
// the command line's switch, or the module's start as a service or a local server.
#include "lighting/win32/PowerEventWindow.h"
#include "platform/Notifier.h"
#include "service/CommandLine.h"
#include "service/win32/Diagnostics.h"
#include "service/win32/ServiceModule.h"

#include <windows.h>

#include <objbase.h>

namespace {

// Built during static initialisation, before the entry runs.
ovled::win32::COvLedServiceModule g_module;

// Message boxes only for a registration run that someone sits in front of; a service, a local server
// started by COM, or a test gets the notices on the diagnostic channels and goes on.
ovled::platform::INotifier& ChooseNotifier(const wchar_t* commandLine)
{
    static ovled::win32::MessageBoxNotifier boxes;
    static ovled::win32::DiagnosticNotifier diagnostics;
    const bool registration =
        ovled::service::FindSwitch(commandLine ? commandLine : L"") != ovled::service::CommandSwitch::None;
    return registration && ovled::win32::CanShowMessageBoxes() ? static_cast<ovled::platform::INotifier&>(boxes)
                                                               : diagnostics;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int showCommand)
{
    (void)ovled::win32::StartPowerWindowThread();

    const wchar_t* commandLine = GetCommandLineW();
    ovled::platform::ScopedNotifier notifier(ChooseNotifier(commandLine));

    HRESULT exitCode = S_OK;
    if (g_module.HandleCommandLine(commandLine, exitCode))
        exitCode = g_module.StartModule(showCommand);
    if (!g_module.IsService() && g_module.ComInitialized())
        CoUninitialize();
    // The last status reports, events and notices are still on their way to a listener; a listener that
    // does not read delays the end by this much at most.
    ovled::win32::FlushDiagnostics(std::chrono::seconds(1));
    return static_cast<int>(exitCode);
}
