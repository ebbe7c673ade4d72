// ovledsoak: the Windows side of the soak run (scripts/soak). Its commands:
//   ovledsoak clients [--threads N] [--seed S] [--seconds MAX] [--interval MS] [--strips K] --control DIR
//       the COM clients and the service monitor (SoakClients.h); the summary JSON goes to stdout
//   ovledsoak power-install LOG INTERVAL_MS | power-remove      the test-only power broadcaster service
//   ovledsoak power-service LOG INTERVAL_MS                     (its entry, run by the service manager)
//   ovledsoak modes [--set M,M,...]          sets the onboard zone and the strips (in that order), then
//                                            reads them back; prints the modes as JSON
//   ovledsoak probe                          one sample of the service's process as JSON
//   ovledsoak thermal-colours FROM TO        the thermal colour of each whole degree, as JSON
// Exit code 0 on success, 1 for a wrong command line, 2 when a step fails.
#include "lighting/ThermalEffect.h"
#include "platform/win32/Unique.h"
#include "service/Identifiers.h"
#include "tools/LightControlClient.h"
#include "tools/soak/PowerBroadcaster.h"
#include "tools/soak/ServiceProbe.h"
#include "tools/soak/SoakClients.h"
#include "tools/soak/SoakClock.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kUsage = 1;
constexpr int kFailure = 2;

int Usage()
{
    std::fwprintf(stderr, L"usage: ovledsoak clients [--threads N] [--seed S] [--seconds MAX] [--interval MS] "
                          L"[--strips K] --control DIR | power-install LOG INTERVAL_MS | power-remove | modes [--set M,M,...] | probe | "
                          L"thermal-colours FROM TO\n");
    return kUsage;
}

bool ParseNumber(const wchar_t* text, double& out)
{
    wchar_t* end = nullptr;
    out = std::wcstod(text, &end);
    return *text && !*end;
}

int Clients(int argc, wchar_t** argv)
{
    ovled::soak::SoakOptions options;
    options.serviceName = std::wstring(ovled::service::kServiceName);
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::wstring name = argv[i];
        double number = 0;
        if (name == L"--control") {
            options.controlFolder = argv[i + 1];
            continue;
        }
        if (!ParseNumber(argv[i + 1], number) || number < 0)
            return Usage();
        if (name == L"--threads")
            options.threads = static_cast<int>(number);
        else if (name == L"--seed")
            options.seed = static_cast<unsigned>(number);
        else if (name == L"--seconds")
            options.maxSeconds = number;
        else if (name == L"--interval")
            options.maxIntervalMillis = static_cast<int>(number);
        else if (name == L"--strips")
            options.strips = static_cast<int>(number);
        else
            return Usage();
    }
    if (argc % 2 != 0 || options.controlFolder.empty() || options.threads < 1 || options.threads > 64)
        return Usage();
    return ovled::soak::RunSoakClients(options) == 0 ? 0 : kFailure;
}

int Power(const std::wstring& command, int argc, wchar_t** argv)
{
    if (command == L"power-remove" && argc == 2) {
        const unsigned long error = ovled::soak::RemovePowerBroadcaster();
        if (error)
            std::fwprintf(stderr, L"ovledsoak: removing the power broadcaster failed (error %lu)\n", error);
        return error ? kFailure : 0;
    }
    double interval = 0;
    if (argc != 4 || !ParseNumber(argv[3], interval) || interval < 100)
        return Usage();
    if (command == L"power-service")
        return ovled::soak::RunPowerBroadcasterService(argv[2], static_cast<unsigned>(interval));
    const unsigned long error = ovled::soak::InstallPowerBroadcaster(argv[2], static_cast<unsigned>(interval));
    if (error)
        std::fwprintf(stderr, L"ovledsoak: installing the power broadcaster failed (error %lu)\n", error);
    return error ? kFailure : 0;
}

// The onboard zone (-1) and the strips, each set in turn to the listed mode, then read back.
int Modes(int argc, wchar_t** argv)
{
    std::vector<short> wanted;
    if (argc == 4 && std::wstring(argv[2]) == L"--set") {
        for (const wchar_t* next = argv[3]; *next;) {
            wchar_t* end = nullptr;
            wanted.push_back(static_cast<short>(std::wcstol(next, &end, 10)));
            if (end == next || (*end && *end != L','))
                return Usage();
            next = *end ? end + 1 : end;
        }
    } else if (argc != 2) {
        return Usage();
    }
    const ovled::win32::ScopedComInit com;
    std::unique_ptr<ovled::tools::LightControlClient> client;
    HRESULT result = ovled::tools::ConnectLightControl(false, client);
    for (size_t i = 0; SUCCEEDED(result) && i < wanted.size(); ++i)
        result = client->Set(static_cast<short>(static_cast<int>(i) - 1), wanted[i]);
    std::vector<short> modes(std::max<size_t>(wanted.size(), 4), -1);
    for (size_t i = 0; SUCCEEDED(result) && i < modes.size(); ++i)
        result = client->Get(static_cast<short>(static_cast<int>(i) - 1), modes[i]);
    std::printf("{\"result\":\"0x%08lX\",\"modes\":{", static_cast<unsigned long>(result));
    for (size_t i = 0; SUCCEEDED(result) && i < modes.size(); ++i)
        std::printf("%s\"%d\":%d", i ? "," : "", static_cast<int>(i) - 1, modes[i]);
    std::printf("}}\n");
    return SUCCEEDED(result) ? 0 : kFailure;
}

int ThermalColours(int argc, wchar_t** argv)
{
    double from = 0, to = 0;
    if (argc != 4 || !ParseNumber(argv[2], from) || !ParseNumber(argv[3], to) || from > to || to - from > 1000)
        return Usage();
    std::printf("{");
    for (int degrees = static_cast<int>(from); degrees <= static_cast<int>(to); ++degrees) {
        const ovled::Rgb colour = ovled::ThermalColour(degrees);
        std::printf("%s\"%d\":\"%02x%02x%02x\"", degrees == static_cast<int>(from) ? "" : ",", degrees, colour.red,
                    colour.green, colour.blue);
    }
    std::printf("}\n");
    return 0;
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    const std::wstring command = argv[1];
    if (command == L"clients")
        return Clients(argc, argv);
    if (command == L"power-install" || command == L"power-remove" || command == L"power-service")
        return Power(command, argc, argv);
    if (command == L"probe" && argc == 2) {
        const auto sample = ovled::soak::ProbeService(std::wstring(ovled::service::kServiceName));
        std::printf("%s\n", ovled::soak::SampleJson(sample, ovled::soak::EpochMillis()).c_str());
        return sample.state ? 0 : kFailure;
    }
    if (command == L"modes")
        return Modes(argc, argv);
    if (command == L"thermal-colours")
        return ThermalColours(argc, argv);
    return Usage();
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        return Run(argc, argv);
    } catch (...) {
        std::fwprintf(stderr, L"ovledsoak: unexpected failure\n");
        return kFailure;
    }
}
