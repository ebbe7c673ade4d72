// LedConfigFile: "lightingControl.xml" beside the executable, the LED controllers' own memory: per LED
// (-1 the onboard zone, 0..n-1 the strips) whether it is switched on, its last effect value and the
// wiring order of its colour channels. Every operation opens the file afresh, does its one read or
// write and closes it, so every read sees the file as it stands on disk. A file that cannot be used is
// treated as XmlKeyStore::Load says (moved aside, or kept with the defaults in force and writes dropped).
// The process's one is owned by the composition root; thread-safe: each operation runs under the object's
// mutex, and a write replaces the whole file in one step.
#pragma once

#include <filesystem>
#include <mutex>
#include <vector>

namespace ovled {

class LedConfigFile {
public:
    // "lightingControl.xml" in the executable's folder (a bare "lightingControl.xml" when unknown).
    static std::filesystem::path DefaultPath();
    static constexpr char kFileName[] = "lightingControl.xml";

    explicit LedConfigFile(std::filesystem::path path) : m_path(std::move(path)) {}
    LedConfigFile(const LedConfigFile&) = delete;
    LedConfigFile& operator=(const LedConfigFile&) = delete;

    // Channel per colour position (0 red, 1 blue, 2 green; digits 3-9 pass through): always three
    // entries, {0, 1, 2} unless the entry holds at least three leading digits.
    std::vector<int> ReadColorSequence(int led);
    // True unless the entry says 0.
    bool IsLedEnabled(int led);
    // The stored effect value; 0xFF02 for the onboard zone and 0xFFFFFF01 for a strip when absent.
    int GetLedMode(int led);
    void SetLedEnabled(int led, bool on);
    void SetLedMode(int led, int value);

    const std::filesystem::path& Path() const noexcept { return m_path; }

private:
    int ReadInt(int led, const char* name, int fallback);
    void WriteInt(int led, const char* name, int value);

    const std::filesystem::path m_path;
    std::mutex m_mutex;
};

} // namespace ovled
