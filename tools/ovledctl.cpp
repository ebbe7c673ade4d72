// ovledctl: reads and sets the lighting modes of the running service (or local server) through its COM
// class LightControl, early-bound through the type library's header or, with --late, through IDispatch.
//
//   ovledctl [--late] get <index>            the mode of a device (-1 the onboard zone, 0.. the strips)
//   ovledctl [--late] set <index> <mode>     mode: none|music|thermal or 0|1|2
//   ovledctl [--late] off onboard|strips     switch the onboard zone or all strips off
//   ovledctl [--late] list [strips]          the onboard zone and strips 0..strips-1 (default 2)
//   ovledctl brightness [percent]            read or set the brightness of every colour (0..100)
//   ovledctl lights off [minutes] | on       every light off (for some minutes, or until "on"), or on again
//   ovledctl status                          every device, the brightness, the rules and why the lights are off
// (the last three through the Lighting class)
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
                          L"off <onboard|strips> | list [strips]\n"
                          L"       ovledctl brightness [0..100] | lights off [minutes] | lights on | status\n");
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

// The commands of the Lighting class, early-bound.
int RunLighting(const std::wstring& command, int remaining, wchar_t** rest)
{
    ovled::win32::ComPtr<ILighting> lighting;
    const HRESULT created =
        CoCreateInstance(CLSID_Lighting, nullptr, CLSCTX_LOCAL_SERVER, IID_ILighting, lighting.put_void());
    if (FAILED(created))
        return Fail(L"creating Lighting", created);
    LONG value = 0;
    if (command == L"brightness" && remaining <= 1) {
        if (remaining == 1) {
            const auto percent = ParseShort(rest[0]);
            if (!percent)
                return Usage();
            if (const HRESULT result = lighting->put_Brightness(*percent); FAILED(result))
                return Fail(L"setting the brightness (0..100)", result);
        }
        if (const HRESULT result = lighting->get_Brightness(&value); FAILED(result))
            return Fail(L"reading the brightness", result);
        std::wprintf(L"brightness %ld %%\n", static_cast<long>(value));
        return 0;
    }
    if (command == L"lights" && remaining >= 1 && !std::wcscmp(rest[0], L"on") && remaining == 1) {
        const HRESULT result = lighting->LightsOn();
        return FAILED(result) ? Fail(L"turning the lights on", result) : 0;
    }
    if (command == L"lights" && remaining >= 1 && !std::wcscmp(rest[0], L"off") && remaining <= 2) {
        const auto minutes = remaining == 2 ? ParseShort(rest[1]) : std::optional<short>(0);
        if (!minutes)
            return Usage();
        const HRESULT result = lighting->LightsOff(*minutes);
        return FAILED(result) ? Fail(L"turning the lights off", result) : 0;
    }
    if (command == L"status" && remaining == 0) {
        LONG count = 0;
        if (const HRESULT result = lighting->get_DeviceCount(&count); FAILED(result))
            return Fail(L"reading the devices", result);
        for (LONG device = -1; device < count - 1; ++device) {
            ovled::win32::UniqueBstr name;
            LONG mode = 0;
            LONG colour = -1;
            VARIANT_BOOL on = VARIANT_FALSE;
            if (FAILED(lighting->get_DeviceName(device, name.put())) || FAILED(lighting->get_DeviceMode(device, &mode)) ||
                FAILED(lighting->get_DeviceOn(device, &on)) || FAILED(lighting->get_DeviceColour(device, &colour)))
                return Fail(L"reading a device", E_FAIL);
            wchar_t shown[24] = L"no colour of ours";
            if (colour >= 0)
                std::swprintf(shown, std::size(shown), L"%06lX", static_cast<unsigned long>(colour));
            std::wprintf(L"device %ld (%ls): mode %ld (%ls), %ls, shows %ls\n", static_cast<long>(device), name.get(),
                         static_cast<long>(mode), ModeName(static_cast<short>(mode)), on ? L"on" : L"switched off",
                         shown);
        }
        VARIANT_BOOL lightsOn = VARIANT_TRUE;
        LONG reasons = 0;
        if (FAILED(lighting->get_Brightness(&value)) || FAILED(lighting->get_LightsAreOn(&lightsOn)) ||
            FAILED(lighting->get_OffReasons(&reasons)))
            return Fail(L"reading the lights' state", E_FAIL);
        std::wprintf(L"brightness %ld %%, lights %ls (rules holding: %ld)\n", static_cast<long>(value),
                     lightsOn ? L"on" : L"off", static_cast<long>(reasons));
        return 0;
    }
    return Usage();
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
    if (command == L"brightness" || command == L"lights" || command == L"status")
        return late ? Usage() : RunLighting(command, remaining, argv + next);

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
