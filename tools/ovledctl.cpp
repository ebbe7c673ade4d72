// ovledctl: reads and sets the lighting modes of the running service (or local server) through its COM
// class LightControl, early-bound through the type library's header or, with --late, through IDispatch.
//
//   ovledctl [--late] get <index>            the mode of a device (-1 the onboard zone, 0.. the strips)
//   ovledctl [--late] set <index> <mode>     mode: none|music|thermal or 0|1|2
//   ovledctl [--late] off onboard|strips     switch the onboard zone or all strips off
//   ovledctl [--late] list [strips]          the onboard zone and strips 0..strips-1 (default 2)
//
// Exit code 0 on success, 1 for a wrong command line, 2 when the class cannot be reached or a call fails.
#include "platform/win32/Unique.h"
#include "tools/LightControlClient.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>

namespace {

using ovled::tools::LightControlClient;
using ovled::win32::ScopedComInit;

constexpr int kUsage = 1;
constexpr int kFailure = 2;

const wchar_t* Hint(HRESULT result)
{
    switch (static_cast<unsigned long>(result)) {
    case 0x80040154: // REGDB_E_CLASSNOTREG
        return L"the LightControl class is not registered: run \"OvLedService.exe /Service\" (as an "
               L"administrator) or \"OvLedService.exe /RegServer\"";
    case 0x80080005: // CO_E_SERVER_EXEC_FAILURE
        return L"the server could not be started: check that OvLedService.exe is still where it was "
               L"registered, and look at the service with \"sc query \\\"Orvex LED Control Service\\\"\"";
    case 0x80070422: // ERROR_SERVICE_DISABLED
        return L"the service is disabled: enable \"Orvex LED Control Service\" in the service manager";
    case 0x8007041D: // ERROR_SERVICE_REQUEST_TIMEOUT
        return L"the service did not start in time: look at it in the service manager";
    case 0x80070005: // E_ACCESSDENIED
        return L"access denied: run as an administrator, or check the AppID's launch and access permissions";
    case 0x800706BA: // RPC_S_SERVER_UNAVAILABLE
    case 0x80010108: // RPC_E_DISCONNECTED
        return L"the server went away during the call: it may have stopped or crashed";
    default:
        return L"the call failed";
    }
}

int Fail(const wchar_t* what, HRESULT result)
{
    std::fwprintf(stderr, L"ovledctl: %ls failed (HRESULT 0x%08lX): %ls\n", what, static_cast<unsigned long>(result),
                  Hint(result));
    return kFailure;
}

std::optional<short> ParseShort(const wchar_t* text)
{
    wchar_t* end = nullptr;
    const long value = std::wcstol(text, &end, 10);
    if (!*text || *end || value < -32768 || value > 32767)
        return std::nullopt;
    return static_cast<short>(value);
}

std::optional<short> ParseMode(const wchar_t* text)
{
    if (!_wcsicmp(text, L"none"))
        return 0;
    if (!_wcsicmp(text, L"music"))
        return 1;
    if (!_wcsicmp(text, L"thermal"))
        return 2;
    return ParseShort(text);
}

const wchar_t* ModeName(short mode)
{
    switch (mode) {
    case 0:
        return L"none";
    case 1:
        return L"music";
    case 2:
        return L"thermal";
    default:
        return L"unknown (acts as none)";
    }
}

int Usage()
{
    std::fwprintf(stderr, L"usage: ovledctl [--late] get <index> | set <index> <none|music|thermal|0|1|2> | "
                          L"off <onboard|strips> | list [strips]\n");
    return kUsage;
}

int PrintMode(LightControlClient& client, short index)
{
    short mode = 0;
    const HRESULT result = client.Get(index, mode);
    if (FAILED(result))
        return Fail(L"reading ModeByIndex", result);
    std::wprintf(L"device %d%ls: mode %d (%ls)\n", index, index == -1 ? L" (onboard)" : L"", mode, ModeName(mode));
    return 0;
}

int Run(int argc, wchar_t** argv)
{
    int next = 1;
    bool late = false;
    if (next < argc && !std::wcscmp(argv[next], L"--late")) {
        late = true;
        ++next;
    }
    if (next >= argc)
        return Usage();
    const std::wstring command = argv[next++];
    const int remaining = argc - next;

    ScopedComInit com;
    if (FAILED(com.Result()))
        return Fail(L"initialising COM", com.Result());

    std::unique_ptr<LightControlClient> client;
    const HRESULT created = ovled::tools::ConnectLightControl(late, client);
    if (FAILED(created))
        return Fail(L"creating LightControl", created);

    if (command == L"get" && remaining == 1) {
        const auto index = ParseShort(argv[next]);
        return index ? PrintMode(*client, *index) : Usage();
    }
    if (command == L"set" && remaining == 2) {
        const auto index = ParseShort(argv[next]);
        const auto mode = ParseMode(argv[next + 1]);
        if (!index || !mode)
            return Usage();
        const HRESULT result = client->Set(*index, *mode);
        return FAILED(result) ? Fail(L"setting ModeByIndex", result) : PrintMode(*client, *index);
    }
    if (command == L"off" && remaining == 1) {
        const std::wstring what = argv[next];
        if (what != L"onboard" && what != L"strips")
            return Usage();
        const HRESULT result = client->Set(what == L"onboard" ? -2 : -3, 0);
        return FAILED(result) ? Fail(L"switching off", result) : 0;
    }
    if (command == L"list" && remaining <= 1) {
        // The interface does not tell how many strips the board has; strips beyond it read as none.
        const auto strips = remaining == 1 ? ParseShort(argv[next]) : std::optional<short>(2);
        if (!strips || *strips < 0)
            return Usage();
        for (short index = -1; index < *strips; ++index) {
            if (const int code = PrintMode(*client, index))
                return code;
        }
        return 0;
    }
    return Usage();
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        return Run(argc, argv);
    } catch (...) {
        std::fwprintf(stderr, L"ovledctl: unexpected failure\n");
        return kFailure;
    }
}
