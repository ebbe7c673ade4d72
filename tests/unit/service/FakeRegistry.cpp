#include "tests/unit/service/FakeRegistry.h"

#include <cwctype>

namespace ovled::service::test {

std::wstring FakeRegistry::Fold(const std::wstring& text)
{
    std::wstring folded = text;
    for (auto& c : folded)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return folded;
}

std::vector<std::wstring> FakeRegistry::Split(const std::wstring& path)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = path.find(L'\\', start);
        parts.push_back(path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos)
            break;
        start = end + 1;
    }
    return parts;
}

FakeRegistry::Key* FakeRegistry::Find(const std::wstring& path)
{
    Key* key = &m_root;
    for (const auto& part : Split(path)) {
        const auto found = key->subkeys.find(Fold(part));
        if (found == key->subkeys.end())
            return nullptr;
        key = found->second.get();
    }
    return key;
}

std::pair<FakeRegistry::Key*, std::wstring> FakeRegistry::Parent(const std::wstring& path)
{
    const size_t split = path.rfind(L'\\');
    if (split == std::wstring::npos)
        return {&m_root, path};
    return {Find(path.substr(0, split)), path.substr(split + 1)};
}

bool FakeRegistry::Denied(const std::wstring& path) const
{
    const std::wstring folded = Fold(path);
    for (const auto& denied : m_denied) {
        if (folded == denied || folded.rfind(denied + L"\\", 0) == 0)
            return true;
    }
    return false;
}

long FakeRegistry::CreateKey(const std::wstring& path)
{
    if (Denied(path))
        return kAccessDenied;
    Key* key = &m_root;
    for (const auto& part : Split(path)) {
        auto& slot = key->subkeys[Fold(part)];
        if (!slot) {
            slot = std::make_unique<Key>();
            slot->name = part;
        }
        key = slot.get();
    }
    return kErrorSuccess;
}

long FakeRegistry::SetValue(const std::wstring& path, const RegistryValue& value)
{
    Key* key = Find(path);
    if (!key)
        return kErrorFileNotFound;
    if (Denied(path))
        return kAccessDenied;
    key->values[Fold(value.name)] = value;
    return kErrorSuccess;
}

void FakeRegistry::SetNumber(const std::wstring& path, const std::wstring& name, unsigned value)
{
    if (CreateKey(path) == kErrorSuccess)
        Find(path)->values[Fold(name)] = RegistryValue::Dword(name, value);
}

long FakeRegistry::DeleteValue(const std::wstring& path, const std::wstring& name)
{
    Key* key = Find(path);
    if (!key)
        return kErrorFileNotFound;
    if (Denied(path))
        return kAccessDenied;
    if (key->values.erase(Fold(name)) == 0)
        return kErrorFileNotFound;
    return kErrorSuccess;
}

long FakeRegistry::DeleteTree(const std::wstring& path)
{
    auto [parent, name] = Parent(path);
    if (!parent || !parent->subkeys.count(Fold(name)))
        return kErrorFileNotFound;
    if (Denied(path))
        return kAccessDenied;
    parent->subkeys.erase(Fold(name));
    return kErrorSuccess;
}

long FakeRegistry::DeleteKey(const std::wstring& path)
{
    Key* key = Find(path);
    if (!key)
        return kErrorFileNotFound;
    if (!key->subkeys.empty())
        return kAccessDenied;
    return DeleteTree(path);
}

bool FakeRegistry::KeyExists(const std::wstring& path)
{
    return Find(path) != nullptr;
}

long FakeRegistry::OpenForWriting(const std::wstring& path)
{
    if (!Find(path))
        return kErrorFileNotFound;
    return Denied(path) ? kAccessDenied : kErrorSuccess;
}

std::vector<std::wstring> FakeRegistry::Subkeys(const std::wstring& path)
{
    std::vector<std::wstring> names;
    if (Key* key = Find(path)) {
        for (const auto& [folded, subkey] : key->subkeys)
            names.push_back(subkey->name);
    }
    return names;
}

std::vector<RegistryValue> FakeRegistry::Values(const std::wstring& path)
{
    std::vector<RegistryValue> values;
    if (Key* key = Find(path)) {
        for (const auto& [folded, value] : key->values)
            values.push_back(value);
    }
    return values;
}

std::optional<std::wstring> FakeRegistry::ReadString(const std::wstring& path, const std::wstring& name)
{
    Key* key = Find(path);
    if (!key)
        return std::nullopt;
    const auto found = key->values.find(Fold(name));
    if (found == key->values.end() || !found->second.IsString())
        return std::nullopt;
    return found->second.text;
}

void FakeRegistry::Collect(const Key& key, const std::wstring& prefix, std::vector<std::wstring>& out)
{
    for (const auto& [folded, subkey] : key.subkeys) {
        const std::wstring path = prefix.empty() ? folded : prefix + L"\\" + folded;
        out.push_back(path);
        Collect(*subkey, path, out);
    }
}

std::vector<std::wstring> FakeRegistry::AllKeys() const
{
    std::vector<std::wstring> keys;
    Collect(m_root, L"", keys);
    return keys;
}

} // namespace ovled::service::test
