#include "lighting/LightingSettings.h"

#include "lighting/LightingRoot.h"
#include "lighting/SettingsKey.h"
#include "platform/Paths.h"
#include "platform/ProcessRoot.h"

namespace ovled {
namespace {

constexpr char kMode[] = "Mode";
constexpr char kIsEnable[] = "IsEnable";
constexpr char kExternal[] = "External";
constexpr char kEnable[] = "Enable";

} // namespace

LightingSettings* LightingSettings::Instance() noexcept
{
    auto* root = platform::ProcessRoot::CurrentAs<ILightingRoot>();
    return root ? &root->Settings() : nullptr;
}

std::filesystem::path LightingSettings::DefaultPath()
{
    return platform::ExecutableDirectory() / kFileName;
}

LightingSettings::LightingSettings(std::filesystem::path path) : m_path(std::move(path))
{
    if (m_store.Load(m_path, true))
        return;
    // Keep working in memory. A file that is XML but not in our shape may be someone's hand edit:
    // leave it as it is rather than replace it with our defaults.
    m_persist = m_store.LastLoad() != XmlKeyStore::LoadResult::Unusable;
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
    WriteRootInt(kMode, mode);
}

bool LightingSettings::IsEnabled()
{
    std::lock_guard lock(m_mutex);
    return ReadRootInt(kIsEnable, 0) != 0;
}

void LightingSettings::SetEnabled(bool on)
{
    std::lock_guard lock(m_mutex);
    WriteRootInt(kIsEnable, on ? 1 : 0);
}

int LightingSettings::GetExternalMode(int key)
{
    std::lock_guard lock(m_mutex);
    return ReadExternalInt(key, kMode);
}

void LightingSettings::SetExternalMode(int key, int mode)
{
    std::lock_guard lock(m_mutex);
    WriteExternalInt(key, kMode, mode);
}

int LightingSettings::GetExternalEnable(int key)
{
    std::lock_guard lock(m_mutex);
    return ReadExternalInt(key, kEnable);
}

void LightingSettings::SetExternalEnable(int key, int value)
{
    std::lock_guard lock(m_mutex);
    WriteExternalInt(key, kEnable, value);
}

int LightingSettings::ReadRootInt(const char* name, int fallback)
{
    int value = fallback;
    m_store.Root().GetInt(name, &value);
    return value;
}

void LightingSettings::WriteRootInt(const char* name, int value)
{
    if (m_store.Root().SetInt(name, value))
        SaveLocked();
}

int LightingSettings::ReadExternalInt(int key, const char* name)
{
    int value = 0;
    m_store.Root().FindChild(kExternal, SettingsKey(key).c_str()).GetInt(name, &value);
    return value;
}

void LightingSettings::WriteExternalInt(int key, const char* name, int value)
{
    if (m_store.Root().FindOrCreateChild(kExternal, SettingsKey(key).c_str()).SetInt(name, value))
        SaveLocked();
}

void LightingSettings::SaveLocked()
{
    // A failed save keeps the change in memory; the next change tries again.
    if (m_persist)
        (void)m_store.Save();
}

} // namespace ovled
