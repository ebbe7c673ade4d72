#include "lighting/LightingSettings.h"

#include "lighting/SettingsKey.h"
#include "platform/Paths.h"

#include <cstring>

namespace ovled {
namespace {

constexpr char kMode[] = "Mode";
constexpr char kIsEnable[] = "IsEnable";
constexpr char kExternal[] = "External";
constexpr char kEnable[] = "Enable";
constexpr char kBrightness[] = "Brightness";
constexpr char kLightsOff[] = "LightsOff";
constexpr char kOnLock[] = "OnLock";
constexpr char kOnDisplayOff[] = "OnDisplayOff";
constexpr char kNightly[] = "Nightly";
constexpr char kNightStart[] = "NightStart";
constexpr char kNightEnd[] = "NightEnd";

int InRange(int value, int low, int high, int fallback)
{
    return value >= low && value <= high ? value : fallback;
}

} // namespace

std::filesystem::path LightingSettings::DefaultPath()
{
    return platform::ExecutableDirectory() / kFileName;
}

LightingSettings::LightingSettings(std::filesystem::path path) : m_path(std::move(path))
{
    if (m_store.Load(m_path, true))
        return;
    // Keep working in memory. A file that is XML but not in our shape may be someone's hand edit:
    // leave it as it is rather than replace it with our defaults. A file we could not read holds the
    // stored modes we could not see: replacing it with our defaults would lose them.
    if (m_store.LastLoad() == XmlKeyStore::LoadResult::Unusable)
        m_persist = false;
    else
        m_detached = true;
    m_store.CreateInMemory(m_path);
}

int LightingSettings::GetMode()
{
    std::lock_guard lock(m_mutex);
    return ReadRootInt(kMode, 0);
}

void LightingSettings::SetMode(int mode)
{
    std::lock_guard lock(m_mutex);
    Write({nullptr, 0, kMode, mode});
}

bool LightingSettings::IsEnabled()
{
    std::lock_guard lock(m_mutex);
    return ReadRootInt(kIsEnable, 0) != 0;
}

void LightingSettings::SetEnabled(bool on)
{
    std::lock_guard lock(m_mutex);
    Write({nullptr, 0, kIsEnable, on ? 1 : 0});
}

int LightingSettings::GetExternalMode(int key)
{
    std::lock_guard lock(m_mutex);
    return ReadExternalInt(key, kMode);
}

void LightingSettings::SetExternalMode(int key, int mode)
{
    std::lock_guard lock(m_mutex);
    Write({kExternal, key, kMode, mode});
}

int LightingSettings::GetExternalEnable(int key)
{
    std::lock_guard lock(m_mutex);
    return ReadExternalInt(key, kEnable);
}

void LightingSettings::SetExternalEnable(int key, int value)
{
    std::lock_guard lock(m_mutex);
    Write({kExternal, key, kEnable, value});
}

int LightingSettings::GetBrightness()
{
    std::lock_guard lock(m_mutex);
    return InRange(ReadRootInt(kBrightness, 100), 0, 100, 100);
}

void LightingSettings::SetBrightness(int percent)
{
    std::lock_guard lock(m_mutex);
    Write({nullptr, 0, kBrightness, percent});
}

LightsOffSettings LightingSettings::GetLightsOff()
{
    std::lock_guard lock(m_mutex);
    const XmlNodeHandle rules = m_store.Root().FindChild(kLightsOff);
    const LightsOffSettings defaults;
    auto read = [&](const char* name, int fallback) {
        int value = fallback;
        rules.GetInt(name, &value);
        return value;
    };
    LightsOffSettings settings;
    settings.onLock = read(kOnLock, 0) != 0;
    settings.onDisplayOff = read(kOnDisplayOff, 0) != 0;
    settings.nightly = read(kNightly, 0) != 0;
    settings.nightStart = InRange(read(kNightStart, defaults.nightStart), 0, kMinutesPerDay - 1, defaults.nightStart);
    settings.nightEnd = InRange(read(kNightEnd, defaults.nightEnd), 0, kMinutesPerDay - 1, defaults.nightEnd);
    return settings;
}

void LightingSettings::SetLightsOff(const LightsOffSettings& settings)
{
    std::lock_guard lock(m_mutex);
    const Change changes[] = {
        {kLightsOff, 0, kOnLock, settings.onLock ? 1 : 0},
        {kLightsOff, 0, kOnDisplayOff, settings.onDisplayOff ? 1 : 0},
        {kLightsOff, 0, kNightly, settings.nightly ? 1 : 0},
        {kLightsOff, 0, kNightStart, settings.nightStart},
        {kLightsOff, 0, kNightEnd, settings.nightEnd},
    };
    Write(changes);
}

int LightingSettings::ReadRootInt(const char* name, int fallback)
{
    int value = fallback;
    m_store.Root().GetInt(name, &value);
    return value;
}

int LightingSettings::ReadExternalInt(int key, const char* name)
{
    int value = 0;
    m_store.Root().FindChild(kExternal, SettingsKey(key).c_str()).GetInt(name, &value);
    return value;
}

void LightingSettings::Write(std::span<const Change> changes)
{
    bool applied = false;
    for (const Change& change : changes)
        applied = Apply(change) || applied;
    if (!applied)
        return;
    if (!m_detached) {
        SaveLocked();
        return;
    }
    for (const Change& change : changes)
        Remember(change);
    ReadFileAgain();
}

bool LightingSettings::Apply(const Change& change)
{
    XmlNodeHandle root = m_store.Root();
    XmlNodeHandle owner = root;
    if (change.section == kExternal)
        owner = root.FindOrCreateChild(kExternal, SettingsKey(change.key).c_str());
    else if (change.section)
        owner = root.FindOrCreateChild(change.section);
    return owner.SetInt(change.name, change.value);
}

void LightingSettings::Remember(const Change& change)
{
    for (Change& kept : m_unsaved) {
        if (kept.section == change.section && kept.key == change.key && std::strcmp(kept.name, change.name) == 0) {
            kept.value = change.value;
            return;
        }
    }
    m_unsaved.push_back(change);
}

// While the file could not be read, each change reads it again. Once it reads (or, missing, can be
// created), the changes made in the meantime go onto its content, so that stored values nobody
// changed survive, and the result is saved. Until then the settings are those changes alone.
void LightingSettings::ReadFileAgain()
{
    const bool loaded = m_store.Load(m_path, true);
    if (!loaded) {
        // Someone put a file of another shape there: leave it alone, as at start.
        if (m_store.LastLoad() == XmlKeyStore::LoadResult::Unusable)
            m_persist = false;
        m_store.CreateInMemory(m_path);
    }
    for (const Change& change : m_unsaved)
        (void)Apply(change);
    m_detached = !loaded && m_persist;
    if (!m_detached)
        m_unsaved.clear();
    if (loaded)
        SaveLocked();
}

void LightingSettings::SaveLocked()
{
    // A failed save keeps the change in memory; the next change tries again.
    if (m_persist)
        (void)m_store.Save();
}

} // namespace ovled
