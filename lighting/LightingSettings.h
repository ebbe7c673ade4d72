// LightingSettings: the persisted lighting state ("Lighting.xml" beside the executable): the onboard
// zone's mode and on flag, and per strip a mode, with the strips' shared on flag in strip entry 0; the
// brightness and the lights-off rules, each under an element of its own that older builds ignore.
// The process's one is owned by the composition root, loaded once; every setter writes the whole file back
// at once.
// Thread-safe: every operation runs under the object's mutex.
#pragma once

#include "lighting/LightsOff.h"
#include "lighting/XmlKeyStore.h"

#include <filesystem>
#include <mutex>
#include <span>
#include <vector>

namespace ovled {

class LightingSettings {
public:
    // "Lighting.xml" in the executable's folder (a bare "Lighting.xml" when that folder is unknown).
    static std::filesystem::path DefaultPath();
    static constexpr char kFileName[] = "Lighting.xml";

    // Loads `path`, creating the file when it is missing or empty; one whose content cannot be used is
    // moved aside first (see XmlKeyStore::Load). XML of another shape is never overwritten: the settings
    // then live in memory for this run. A file that exists but cannot be read (locked by another
    // program, denied to us, a link), or that can be neither used nor moved aside (read-only), or a path
    // where no file can be created, is not overwritten either: the settings live in memory, and every
    // change tries to read the file again; once it reads, the changes made in the meantime are applied
    // to its content and saved.
    explicit LightingSettings(std::filesystem::path path);

    int GetMode();
    void SetMode(int mode);
    bool IsEnabled();
    void SetEnabled(bool on);
    int GetExternalMode(int key);
    void SetExternalMode(int key, int mode);
    int GetExternalEnable(int key);
    void SetExternalEnable(int key, int value);
    // 0..100; 100 (every colour as its source made it) when absent or out of range.
    int GetBrightness();
    void SetBrightness(int percent);
    // The defaults (every rule off, a window of 23:00-07:00) for what is absent or out of range.
    LightsOffSettings GetLightsOff();
    // Stores all five values with one save.
    void SetLightsOff(const LightsOffSettings& settings);

    const std::filesystem::path& Path() const noexcept { return m_path; }
    // False when changes stay in memory because the file on disk is not ours to replace.
    bool Persists() const noexcept { return m_persist; }

private:
    // One value written by a setter: of the root (no section), of a strip's "external" entry (with its
    // key), or of the "lightsoff" element.
    struct Change {
        const char* section = nullptr;
        int key = 0;
        const char* name = nullptr;
        int value = 0;
    };

    int ReadRootInt(const char* name, int fallback);
    int ReadExternalInt(int key, const char* name);
    void Write(const Change& change) { Write(std::span<const Change>(&change, 1)); }
    void Write(std::span<const Change> changes);
    bool Apply(const Change& change);
    void Remember(const Change& change);
    void ReadFileAgain();
    void SaveLocked();

    std::mutex m_mutex;
    std::filesystem::path m_path;
    XmlKeyStore m_store;
    bool m_persist = true;
    // The file could not be read: m_store holds only the changes since, which are also kept here (the
    // last value of each) to be applied to the file's content once it reads again.
    bool m_detached = false;
    std::vector<Change> m_unsaved;
};

} // namespace ovled
