// Any bytes as a settings file: loading it (and reading the values the service reads) must neither
// crash nor exhaust the stack, whatever the nesting, encoding or size.
#include "lighting/SettingsKey.h"
#include "lighting/XmlKeyStore.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

const std::filesystem::path& ScratchFile()
{
    static const std::filesystem::path path = [] {
        char pattern[] = "/tmp/ovled-fuzz-xml-XXXXXX";
        const int fd = ::mkstemp(pattern);
        if (fd >= 0)
            ::close(fd);
        return std::filesystem::path(pattern);
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& path = ScratchFile();
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    ovled::XmlKeyStore store;
    if (!store.Load(path, false))
        return 0;
    ovled::XmlNodeHandle root = store.Root();
    int value = 0;
    root.GetInt("Mode", &value);
    root.GetInt("IsEnable", &value);
    for (int key : {-1, 0, 1}) {
        ovled::XmlNodeHandle led = root.FindChild("led", ovled::SettingsKey(key).c_str());
        led.GetInt("mode", &value);
        led.GetInt("enabled", &value);
        std::wstring text;
        led.GetWString(L"colorsequence", text);
        root.FindChild("External", ovled::SettingsKey(key).c_str()).GetInt("Enable", &value);
    }
    root.FindOrCreateChild("led", "7").SetInt("mode", 5);
    return 0;
}
