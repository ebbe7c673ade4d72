// Any bytes as a settings file: loading it (and reading the values the service reads) must neither
// crash nor exhaust a stack, whatever the nesting, encoding or size. Each input is loaded on a thread
// with a 1 MiB stack, as the service's threads have. The store parses on a thread of its own whose
// stack it sizes from the input, so an input that the fuzzer grows past that estimate (the deep seeds
// start near the store's bounds) overflows there and is found; what the store keeps is read, changed
// and destroyed on the 1 MiB thread.
#include "lighting/SettingsKey.h"
#include "lighting/XmlKeyStore.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pthread.h>
#include <string>
#include <unistd.h>

namespace {

constexpr std::size_t kServiceThreadStack = 1024 * 1024;

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

void* LoadAndRead(void*)
{
    ovled::XmlKeyStore store;
    if (!store.Load(ScratchFile(), false))
        return nullptr;
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
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& path = ScratchFile();
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    pthread_attr_t attributes;
    pthread_t thread;
    if (pthread_attr_init(&attributes) != 0 || pthread_attr_setstacksize(&attributes, kServiceThreadStack) != 0 ||
        pthread_create(&thread, &attributes, &LoadAndRead, nullptr) != 0)
        std::abort(); // a harness that cannot run the input must not pass it
    pthread_attr_destroy(&attributes);
    pthread_join(thread, nullptr);
    return 0;
}
