#include "service/win32/Win32Registry.h"

#include "platform/win32/Unique.h"

#include <cstring>

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

long RegistryEditor::SetValue(const std::wstring& path, const service::RegistryValue& value)
{
    UniqueRegKey key;
    if (const long error = Open(m_root, Full(path), KEY_SET_VALUE, key))
        return error;
    const wchar_t* name = value.name.empty() ? nullptr : value.name.c_str();
    switch (value.type) {
    case service::RegistryType::String:
    case service::RegistryType::ExpandString: {
        const auto bytes = static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)); // with the terminator
        return RegSetValueExW(key.get(), name, 0,
                              value.type == service::RegistryType::String ? REG_SZ : REG_EXPAND_SZ,
                              reinterpret_cast<const BYTE*>(value.text.c_str()), bytes);
    }
    case service::RegistryType::Dword: {
        const DWORD number = value.number;
        return RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    }
    case service::RegistryType::Binary:
        return RegSetValueExW(key.get(), name, 0, REG_BINARY, value.bytes.data(),
                              static_cast<DWORD>(value.bytes.size()));
    case service::RegistryType::Other:
        break;
    }
    return ERROR_INVALID_PARAMETER;
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
        switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            value.type = type == REG_SZ ? service::RegistryType::String : service::RegistryType::ExpandString;
            value.text.assign(reinterpret_cast<const wchar_t*>(data.data()), dataLength / sizeof(wchar_t));
            while (!value.text.empty() && value.text.back() == L'\0')
                value.text.pop_back();
            break;
        case REG_DWORD:
            value.type = dataLength == sizeof(DWORD) ? service::RegistryType::Dword : service::RegistryType::Other;
            if (value.type == service::RegistryType::Dword)
                std::memcpy(&value.number, data.data(), sizeof(DWORD));
            break;
        case REG_BINARY:
            value.type = service::RegistryType::Binary;
            value.bytes.assign(data.begin(), data.begin() + dataLength);
            break;
        default:
            value.type = service::RegistryType::Other;
            break;
        }
        values.push_back(std::move(value));
    }
    return values;
}

std::optional<std::wstring> RegistryEditor::ReadString(const std::wstring& path, const std::wstring& name)
{
    for (auto& value : Values(path)) {
        if (value.IsString() && service::SameRegistryName(value.name, name))
            return std::move(value.text);
    }
    return std::nullopt;
}

} // namespace ovled::win32
