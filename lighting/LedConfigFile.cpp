#include "lighting/LedConfigFile.h"

#include "lighting/SettingsKey.h"
#include "lighting/XmlKeyStore.h"
#include "platform/Paths.h"

#include <string>

namespace ovled {
namespace {

constexpr char kLed[] = "led";
constexpr char kEnabled[] = "enabled";
constexpr char kMode[] = "mode";
constexpr wchar_t kColorSequence[] = L"colorsequence";

constexpr int kOnboardLed = -1;
constexpr int kOnboardDefaultMode = 0xFF02;                             // code 2, colour 0x0000FF
constexpr int kStripDefaultMode = static_cast<int>(0xFFFFFF01u);        // code 1, colour 0xFFFFFF

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

} // namespace

std::filesystem::path LedConfigFile::DefaultPath()
{
    return platform::ExecutableDirectory() / kFileName;
}

std::vector<int> LedConfigFile::ReadColorSequence(int led)
{
    std::vector<int> sequence{0, 1, 2};
    std::lock_guard lock(m_mutex);
    XmlKeyStore store;
    if (!store.Load(m_path, true))
        return sequence;
    std::wstring text;
    if (!store.Root().FindChild(kLed, SettingsKey(led).c_str()).GetWString(kColorSequence, text))
        return sequence;
    if (text.size() >= 3 && IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[2]))
        sequence = {text[0] - L'0', text[1] - L'0', text[2] - L'0'};
    return sequence;
}

bool LedConfigFile::IsLedEnabled(int led)
{
    return ReadInt(led, kEnabled, 1) != 0;
}

int LedConfigFile::GetLedMode(int led)
{
    return ReadInt(led, kMode, led == kOnboardLed ? kOnboardDefaultMode : kStripDefaultMode);
}

void LedConfigFile::SetLedEnabled(int led, bool on)
{
    WriteInt(led, kEnabled, on ? 1 : 0);
}

void LedConfigFile::SetLedMode(int led, int value)
{
    WriteInt(led, kMode, value);
}

int LedConfigFile::ReadInt(int led, const char* name, int fallback)
{
    int value = fallback;
    std::lock_guard lock(m_mutex);
    XmlKeyStore store;
    if (store.Load(m_path, true))
        store.Root().FindChild(kLed, SettingsKey(led).c_str()).GetInt(name, &value);
    return value;
}

// Re-reads the file, changes one value and replaces the whole file. A file that can be neither read
// nor created, or a failed save, leaves the file as it was.
void LedConfigFile::WriteInt(int led, const char* name, int value)
{
    std::lock_guard lock(m_mutex);
    XmlKeyStore store;
    if (store.Load(m_path, true) && store.Root().FindOrCreateChild(kLed, SettingsKey(led).c_str()).SetInt(name, value))
        (void)store.Save();
}

} // namespace ovled
