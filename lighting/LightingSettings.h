// LightingSettings: the persisted lighting state ("Lighting.xml" beside the executable): the onboard
// zone's mode and on flag, and per strip a mode, with the strips' shared on flag in strip entry 0.
// The process's one is owned by the composition root, loaded once; every setter writes the whole file back
// at once.
// Thread-safe: every operation runs under the object's mutex.
#pragma once

#include "lighting/XmlKeyStore.h"

#include <filesystem>
#include <mutex>

namespace ovled {

class LightingSettings {
public:
    // The settings of the process's root; null while no root is built.
    static LightingSettings* Instance() noexcept;
    // "Lighting.xml" in the executable's folder (a bare "Lighting.xml" when that folder is unknown).
    static std::filesystem::path DefaultPath();
    static constexpr char kFileName[] = "Lighting.xml";

    // Loads `path`, creating the file when it is missing or unreadable. When the file can be neither
    // read nor written, or is XML of another shape, the settings live in memory for this run (and such
    // a foreign file is never overwritten).
    explicit LightingSettings(std::filesystem::path path);

    int GetMode();
    void SetMode(int mode);
    bool IsEnabled();
    void SetEnabled(bool on);
    int GetExternalMode(int key);
    void SetExternalMode(int key, int mode);
    int GetExternalEnable(int key);
    void SetExternalEnable(int key, int value);

    const std::filesystem::path& Path() const noexcept { return m_path; }
    // False when changes stay in memory because the file on disk is not ours to replace.
    bool Persists() const noexcept { return m_persist; }

private:
    int ReadRootInt(const char* name, int fallback);
    void WriteRootInt(const char* name, int value);
    int ReadExternalInt(int key, const char* name);
    void WriteExternalInt(int key, const char* name, int value);
    void SaveLocked();

    std::mutex m_mutex;
    std::filesystem::path m_path;
    XmlKeyStore m_store;
    bool m_persist = true;
};

} // namespace ovled
