// The process entry of OvLedService.exe: system DLLs from System32 only, the event log's writer and the
// process's COM security first, then the process's composition root and the power event window (for
// every command line but the installer's type-library steps), then the command line's switch, or the
// module's start as a service or a local server.
#include "devices/win32/WindowsProcess.h"
#include "lighting/win32/PowerEventWindow.h"
#include "platform/Event.h"
#include "platform/EventIds.h"
#include "platform/EventLog.h"
#include "platform/Notifier.h"
#include "platform/win32/Unique.h"
#include "service/CommandLine.h"
#include "service/win32/ComSecurity.h"
#include "service/win32/Diagnostics.h"
#include "service/win32/ServiceModule.h"

#include <windows.h>

#include <objbase.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Built during static initialisation, before the entry runs.
ovled::win32::COvLedServiceModule g_module;

// Message boxes only for a registration run that someone sits in front of; a service, a local server
// started by COM, or a test gets the notices on the diagnostic channels and goes on.
ovled::platform::INotifier& ChooseNotifier(ovled::service::CommandSwitch requested)
{
    static ovled::win32::MessageBoxNotifier boxes;
    static ovled::win32::DiagnosticNotifier diagnostics;
    const bool registration = requested != ovled::service::CommandSwitch::None;
    return registration && ovled::win32::CanShowMessageBoxes() ? static_cast<ovled::platform::INotifier&>(boxes)
                                                               : diagnostics;
}

// The process's shared objects, built once; never destroyed, as the power event window's thread serves
// them until the process ends. Null when they could not be built: the process still registers and
// serves, and the COM object answers E_UNEXPECTED.
ovled::win32::WindowsProcess* BuildProcess() noexcept
{
    try {
        return new ovled::win32::WindowsProcess;
    } catch (...) {
        return nullptr;
    }
}

// How long the end of the process waits for the power window's thread, and then for the thermal and
// music threads, each of which may be in a firmware call.
constexpr std::chrono::seconds kWindowThreadPatience{10};
constexpr std::chrono::seconds kLightingPatience{10};

// A firmware server that hangs keeps a call, and the thread that made it, for ever, and the service must
// still stop. The lighting's threads are ended from a thread of its own, which the process leaves
// behind after `patience` (the process ends it with its end; the root it uses is never destroyed).
void ShutdownLightingWithin(ovled::Process& root, std::chrono::seconds patience)
{
    std::shared_ptr<ovled::platform::AutoResetEvent> ended;
    try {
        ended = std::make_shared<ovled::platform::AutoResetEvent>();
        std::thread([&root, ended]() noexcept {
            try {
                root.ShutdownLighting();
            } catch (...) {
            }
            ended->Set();
        }).detach();
    } catch (...) {
        root.ShutdownLighting(); // no thread to spare: here, unbounded
        return;
    }
    (void)ended->WaitFor(patience);
}

// Ends the lighting's threads (the power window's, the thermal and music threads), so that none of them
// still holds a connection to the firmware server when the process ends. Runs once.
void EndLighting(ovled::win32::WindowsProcess* process, ovled::win32::PowerWindowHolder* window) noexcept
{
    static std::once_flag once;
    try {
        std::call_once(once, [&] {
            if (window)
                (void)ovled::win32::StopPowerWindowThread(*window, kWindowThreadPatience);
            if (process)
                ShutdownLightingWithin(process->Root(), kLightingPatience);
        });
    } catch (...) {
    }
}

// The process's COM security, on an apartment of the main thread that lasts as long as the entry. A
// failure is reported, and the process then makes and takes no COM call at all rather than serve under
// the machine's defaults.
HRESULT SecureCom(const ovled::win32::ScopedComInit& apartment) noexcept
{
    HRESULT result = apartment.Result();
    if (SUCCEEDED(result)) {
        try {
            result = ovled::win32::ApplyComSecurity(ovled::win32::ProcessComSecurity());
        } catch (...) {
            result = E_OUTOFMEMORY;
        }
    }
    if (SUCCEEDED(result))
        return result;
    wchar_t code[16];
    swprintf(code, ARRAYSIZE(code), L"0x%08lX", static_cast<unsigned long>(result));
    const std::wstring inserts[] = {code};
    ovled::platform::EventLog().Report(ovled::events::kComSecurityNotSet, inserts);
    return result;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int showCommand)
{
    // Before anything can load a DLL by name: system DLLs come from System32 only, never from the
    // executable's folder or the current one.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Every layer's event-log messages reach the Application log and the diagnostic pipe. Never undone:
    // threads the process leaves behind may still report while it ends.
    static auto* const events = new ovled::win32::EventLogWriter(g_module.ServiceName());
    static auto* const eventLog = new ovled::platform::ScopedEventLog(*events);
    (void)eventLog;

    // The process's COM security comes before its first COM call, made or taken: the power window's
    // thread initialises COM and reaches the firmware, so it starts only after this.
    ovled::win32::ScopedComInit apartment(COINIT_MULTITHREADED);
    if (const HRESULT security = SecureCom(apartment); FAILED(security)) {
        ovled::win32::FlushDiagnostics(std::chrono::seconds(1));
        return static_cast<int>(security);
    }

    const wchar_t* commandLine = GetCommandLineW();
    const ovled::service::CommandSwitch requested = ovled::win32::COvLedServiceModule::RequestedSwitch(commandLine);
    // The installer's type-library steps (run as LocalSystem, while an older service may still drive
    // the board) leave the lighting alone: no settings file is read or created, no mode is applied.
    const bool typeLibraryOnly = requested == ovled::service::CommandSwitch::RegTypeLib ||
                                 requested == ovled::service::CommandSwitch::UnregTypeLib;
    ovled::win32::WindowsProcess* process = typeLibraryOnly ? nullptr : BuildProcess();
    ovled::win32::PowerWindowHolder* window = process ? ovled::win32::StartPowerWindowThread(process->Root()) : nullptr;
    g_module.SetServingEnded([process, window] { EndLighting(process, window); });
    g_module.SetLightingWindow(window);

    ovled::platform::ScopedNotifier notifier(ChooseNotifier(requested));

    HRESULT exitCode = S_OK;
    if (g_module.HandleCommandLine(commandLine, exitCode))
        exitCode = g_module.StartModule(showCommand);
    EndLighting(process, window); // after a registration switch, or when serving never began
    if (!g_module.IsService() && g_module.ComInitialized())
        CoUninitialize();
    // The last status reports, events and notices are still on their way to a listener; a listener that
    // does not read delays the end by this much at most.
    ovled::win32::FlushDiagnostics(std::chrono::seconds(1));
    return static_cast<int>(exitCode);
}
