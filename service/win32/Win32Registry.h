// The registry editor of the registration code over the real registry: one root key and an optional
// path under it (HKEY_CLASSES_ROOT, or HKEY_CURRENT_USER\Software\Classes for per-user registration).
// Used on the main thread of registration runs, and by tools and tests that check a registration.
#pragma once

#include "service/RegistryPlan.h"

#include <windows.h>

namespace ovled::win32 {

class RegistryEditor final : public service::IRegistryEditor {
public:
    RegistryEditor(HKEY root, std::wstring base) : m_root(root), m_base(std::move(base)) {}

    static RegistryEditor MachineClasses() { return RegistryEditor(HKEY_CLASSES_ROOT, L""); }
    static RegistryEditor UserClasses() { return RegistryEditor(HKEY_CURRENT_USER, L"Software\\Classes"); }
    static RegistryEditor Machine() { return RegistryEditor(HKEY_LOCAL_MACHINE, L""); }

    long CreateKey(const std::wstring& path) override;
    long SetValue(const std::wstring& path, const service::RegistryValue& value) override;
    long DeleteValue(const std::wstring& path, const std::wstring& name) override;
    long DeleteTree(const std::wstring& path) override;
    long DeleteKey(const std::wstring& path) override;
    bool KeyExists(const std::wstring& path) override;
    long OpenForWriting(const std::wstring& path) override;
    std::vector<std::wstring> Subkeys(const std::wstring& path) override;
    std::vector<service::RegistryValue> Values(const std::wstring& path) override;
    std::optional<std::wstring> ReadString(const std::wstring& path, const std::wstring& name) override;

private:
    std::wstring Full(const std::wstring& path) const { return service::JoinKeyPath(m_base, path); }

    HKEY m_root;
    std::wstring m_base;
};

} // namespace ovled::win32
