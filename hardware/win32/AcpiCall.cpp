// acpicall: calls the firmware through the ACPI bridge from the command line, for a person checking a
// board (or the virtual one). Carries the bridge's exports like the service executable does.
//   acpicall get ID | getex ID PARAM | set ID VALUE [FLAGS] | group GROUP | init | mbif
#include "hardware/BiosItemRegistry.h"
#include "hardware/ItemIds.h"
#include "hardware/win32/AcpiBridge.h"
#include "hardware/win32/HeldConnection.h"
#include "platform/win32/Unique.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

bool Number(const wchar_t* text, std::uint32_t& out)
{
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(text, &end, 0);
    if (!*text || *end || value > 0xFFFFFFFFull)
        return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

int Usage()
{
    std::fputs("usage: acpicall get ID | getex ID PARAM | set ID VALUE [FLAGS] | group GROUP | init | mbif\n", stderr);
    return 2;
}

int ListGroup(std::uint32_t group)
{
    // One server for the whole walk.
    ovled::HeldAutomationTransport firmware;
    const auto session = firmware.Begin();
    ovled::BiosItemEnumerator walk(firmware);
    if (!walk.Begin(group)) {
        std::printf("group 0x%X: the list call failed\n", group);
        return 1;
    }
    for (; !walk.AtEnd(); walk.Next()) {
        const auto item = walk.CreateItem();
        std::printf("0x%08X kind %2u  %ls\n", walk.CurrentId(), ovled::items::KindOf(walk.CurrentId()),
                    item ? item->GetName().c_str() : L"?");
    }
    return 0;
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    const std::wstring command = argv[1];
    std::uint32_t a = 0, b = 0, c = ovled::items::kFlagsDefault;
    if (command == L"init" && argc == 2) {
        std::printf("AcpiInit -> %u\n", AcpiInit());
        return 0;
    }
    if (command == L"get" && argc == 3 && Number(argv[2], a)) {
        std::uint32_t value = 0;
        const std::uint32_t result = AcpiGetItem(a, &value);
        std::printf("AcpiGetItem(0x%08X) -> %u, value 0x%08X\n", a, result, value);
        return result ? 0 : 1;
    }
    if (command == L"getex" && argc == 4 && Number(argv[2], a) && Number(argv[3], b)) {
        std::uint32_t value = 0;
        const std::uint32_t result = AcpiGetItemEx(a, b, &value);
        std::printf("AcpiGetItemEx(0x%08X, %u) -> %u, value 0x%08X\n", a, b, result, value);
        return result ? 0 : 1;
    }
    if (command == L"set" && (argc == 4 || argc == 5) && Number(argv[2], a) && Number(argv[3], b) &&
        (argc == 4 || Number(argv[4], c))) {
        const std::uint32_t result = AcpiSetItem(a, b, c);
        std::printf("AcpiSetItem(0x%08X, 0x%08X, %u) -> %u\n", a, b, c, result);
        return result ? 0 : 1;
    }
    if (command == L"group" && argc == 3 && Number(argv[2], a))
        return ListGroup(a);
    if (command == L"mbif" && argc == 2) {
        std::uint8_t buffer[256] = {};
        std::uint32_t length = sizeof buffer;
        const std::uint32_t result = AcpiMbif(buffer, &length);
        std::printf("AcpiMbif -> %u, %u bytes:", result, length);
        for (std::uint32_t i = 0; i < length; ++i)
            std::printf(" %02X", buffer[i]);
        std::printf("\n");
        return result ? 0 : 1;
    }
    return Usage();
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    ovled::win32::ScopedComInit com(COINIT_MULTITHREADED);
    try {
        return Run(argc, argv);
    } catch (...) {
        return 1;
    }
}
