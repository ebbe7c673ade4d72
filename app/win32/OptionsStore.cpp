#include "app/win32/OptionsStore.h"

#include "platform/win32/Unique.h"

namespace ovled::app::win32 {
namespace {

constexpr wchar_t kKey[] = L"Software\\Orvex\\OvLedLighting";
constexpr wchar_t kTrayIcon[] = L"TrayIcon";
constexpr wchar_t kStartAtLogon[] = L"StartAtLogon";

bool ReadSwitch(HKEY key, const wchar_t* name)
{
    DWORD value = 1;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return true;
    return value != 0;
}

bool WriteSwitch(HKEY key, const wchar_t* name, bool on)
{
    const DWORD value = on ? 1 : 0;
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

} // namespace

AppOptions LoadOptions() noexcept
{
    AppOptions options;
    ovled::win32::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS) {
        options.trayIcon = ReadSwitch(key.get(), kTrayIcon);
        options.startAtLogon = ReadSwitch(key.get(), kStartAtLogon);
    }
    return options;
}

bool SaveOptions(const AppOptions& options) noexcept
{
    ovled::win32::UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return false;
    const bool tray = WriteSwitch(key.get(), kTrayIcon, options.trayIcon);
    return WriteSwitch(key.get(), kStartAtLogon, options.startAtLogon) && tray;
}

} // namespace ovled::app::win32
