// What a client of the service pays: registering the executable, the first activation (which starts
// the local server), activations of a running server, ModeByIndex calls early- and late-bound, and
// the local server's end after its last client. Registers a copy of OvLedService.exe in a temporary
// folder and removes it again. Windows (Wine) only.
//   service_com_bench.exe [path of OvLedService.exe]   (default: the copy beside this program)
#include "bench/BenchUtil.h"
#include "platform/Paths.h"
#include "platform/win32/Unique.h"

#include <windows.h>

#include <tlhelp32.h>

#include <OvLedService_h.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using ovled::bench::Measure;
using ovled::bench::Print;
using ovled::win32::ComPtr;
using ovled::win32::UniqueHandle;

DWORD Run(const fs::path& exe, const std::wstring& arguments)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + exe.wstring() + L"\" " + arguments;
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return ~0u;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    WaitForSingleObject(process.get(), 60000);
    DWORD code = ~0u;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

HRESULT Create(ComPtr<ILightControl>& control)
{
    return CoCreateInstance(CLSID_LightControl, nullptr, CLSCTX_LOCAL_SERVER, IID_ILightControl, control.put_void());
}

double Seconds(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    SetEnvironmentVariableW(L"OVLED_NO_MESSAGE_BOXES", L"1");
    const fs::path source = argc > 1 ? fs::path(argv[1]) : ovled::platform::ExecutableDirectory() / "OvLedService.exe";
    const fs::path folder = fs::temp_directory_path() / ("ovled-bench-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(folder);
    const fs::path exe = folder / "OvLedService.exe";
    fs::copy_file(source, exe, fs::copy_options::overwrite_existing);

    auto start = std::chrono::steady_clock::now();
    if (Run(exe, L"/RegServer") != 0) {
        std::printf("registration failed\n");
        return 1;
    }
    std::printf("%-58s %10.3f s\n", "/RegServer run", Seconds(std::chrono::steady_clock::now() - start));

    {
        ovled::win32::ScopedComInit com;
        ComPtr<ILightControl> control;
        start = std::chrono::steady_clock::now();
        if (FAILED(Create(control))) {
            std::printf("activation failed\n");
            return 1;
        }
        std::printf("%-58s %10.3f s\n", "first activation (starts the local server)",
                    Seconds(std::chrono::steady_clock::now() - start));

        Print("activation of the running server + release", Measure(
                                                                  [] {
                                                                      ComPtr<ILightControl> other;
                                                                      (void)Create(other);
                                                                  },
                                                                  50));
        SHORT mode = 0;
        Print("get_ModeByIndex(-1), early-bound", Measure([&] { (void)control->get_ModeByIndex(-1, &mode); }, 500));
        Print("put_ModeByIndex(-1, 0), early-bound (stores and applies)",
              Measure([&] { (void)control->put_ModeByIndex(-1, 0); }, 200));

        ComPtr<IDispatch> dispatch;
        (void)control.As(dispatch);
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I2;
        index.iVal = -1;
        DISPPARAMS get{&index, nullptr, 1, 0};
        Print("Invoke(6, PROPERTYGET), late-bound", Measure(
                                                           [&] {
                                                               ovled::win32::UniqueVariant result;
                                                               (void)dispatch->Invoke(6, IID_NULL, 0,
                                                                                      DISPATCH_PROPERTYGET, &get,
                                                                                      result.get(), nullptr, nullptr);
                                                           },
                                                           500));
        dispatch.reset();

        // The server's end after the last release: found as the only process running the copy.
        DWORD serverId = 0;
        {
            UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
            PROCESSENTRY32W entry{};
            entry.dwSize = sizeof(entry);
            for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
                 more = Process32NextW(snapshot.get(), &entry)) {
                if (_wcsicmp(entry.szExeFile, L"OvLedService.exe") == 0)
                    serverId = entry.th32ProcessID;
            }
        }
        UniqueHandle server(OpenProcess(SYNCHRONIZE, FALSE, serverId));
        start = std::chrono::steady_clock::now();
        control.reset();
        if (server && WaitForSingleObject(server.get(), 30000) == WAIT_OBJECT_0)
            std::printf("%-58s %10.3f s\n", "last release to the local server's end",
                        Seconds(std::chrono::steady_clock::now() - start));
    }

    Run(exe, L"/UnregServer");
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
