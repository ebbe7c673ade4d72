#include "service/win32/Win32Registry.h"

#include "platform/win32/Unique.h"

namespace ovled::win32 {
namespace {

long Open(HKEY root, const std::wstring& path, REGSAM access, UniqueRegKey& key)
{
    return RegOpenKeyExW(root, path.c_str(), 0, access, key.put());
}

} // namespace

long RegistryEditor::CreateKey(const std::wstring& path)
{
    UniqueRegKey key;
    return RegCreateKeyExW(m_root, Full(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                           nullptr, key.put(), nullptr);
}

long RegistryEditor::SetString(const std::wstring& path, const std::wstring& name, const std::wstring& text)
{
    UniqueRegKey key;
    if (const long error = Open(m_root, Full(path), KEY_SET_VALUE, key))
        return error;
    const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); // with the terminator
    return RegSetValueExW(key.get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()), bytes);
}

long RegistryEditor::DeleteValue(const std::wstring& path, const std::wstring& name)
{
    UniqueRegKey key;
    if (const long error = Open(m_root, Full(path), KEY_SET_VALUE, key))
        return error;
    return RegDeleteValueW(key.get(), name.empty() ? nullptr : name.c_str());
}

long RegistryEditor::DeleteTree(const std::wstring& path)
{
    if (!KeyExists(path))
        return ERROR_FILE_NOT_FOUND;
    return RegDeleteTreeW(m_root, Full(path).c_str()); // the named key goes with its subtree
}

long RegistryEditor::DeleteKey(const std::wstring& path)
{
    return RegDeleteKeyW(m_root, Full(path).c_str());
}

bool RegistryEditor::KeyExists(const std::wstring& path)
{
    UniqueRegKey key;
    return Open(m_root, Full(path), KEY_READ, key) == ERROR_SUCCESS;
}

long RegistryEditor::OpenForWriting(const std::wstring& path)
{
    UniqueRegKey key;
    return Open(m_root, Full(path), KEY_WRITE, key);
}

std::vector<std::wstring> RegistryEditor::Subkeys(const std::wstring& path)
{
    std::vector<std::wstring> names;
    UniqueRegKey key;
    if (Open(m_root, Full(path), KEY_READ, key) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

std::vector<service::RegistryValue> RegistryEditor::Values(const std::wstring& path)
{
    std::vector<service::RegistryValue> values;
    UniqueRegKey key;
    if (Open(m_root, Full(path), KEY_READ, key) != ERROR_SUCCESS)
        return values;
    DWORD nameCapacity = 0;
    DWORD dataCapacity = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nameCapacity,
                         &dataCapacity, nullptr, nullptr) != ERROR_SUCCESS)
        return values;
    std::wstring name(nameCapacity + 1, L'\0');
    std::vector<BYTE> data(dataCapacity + sizeof(wchar_t));
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength) !=
            ERROR_SUCCESS)
            break;
        service::RegistryValue value;
        value.name.assign(name.data(), nameLength);
        value.isString = type == REG_SZ;
        if (value.isString) {
            value.text.assign(reinterpret_cast<const wchar_t*>(data.data()), dataLength / sizeof(wchar_t));
            while (!value.text.empty() && value.text.back() == L'\0')
                value.text.pop_back();
        }
        values.push_back(std::move(value));
    }
    return values;
}

std::optional<std::wstring> RegistryEditor::ReadString(const std::wstring& path, const std::wstring& name)
{
    for (auto& value : Values(path)) {
        if (value.isString && service::SameRegistryName(value.name, name))
            return std::move(value.text);
    }
    return std::nullopt;
}

} // namespace ovled::win32
