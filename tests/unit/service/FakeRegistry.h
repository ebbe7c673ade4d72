// An in-memory registry under one root, with the registry's rules: names compare without regard to
// case, a key with subkeys cannot be deleted on its own, missing keys and values are
// kErrorFileNotFound. Keys can be made read-only, to stand for keys the user may not write.
#pragma once

#include "service/RegistryPlan.h"

#include <map>
#include <memory>
#include <set>
#include <string>

namespace ovled::service::test {

class FakeRegistry final : public IRegistryEditor {
public:
    long CreateKey(const std::wstring& path) override;
    long SetValue(const std::wstring& path, const RegistryValue& value) override;
    long DeleteValue(const std::wstring& path, const std::wstring& name) override;
    long DeleteTree(const std::wstring& path) override;
    long DeleteKey(const std::wstring& path) override;
    bool KeyExists(const std::wstring& path) override;
    long OpenForWriting(const std::wstring& path) override;
    std::vector<std::wstring> Subkeys(const std::wstring& path) override;
    std::vector<RegistryValue> Values(const std::wstring& path) override;
    std::optional<std::wstring> ReadString(const std::wstring& path, const std::wstring& name) override;

    // Stores a value that is not a string (REG_DWORD and the like).
    void SetNumber(const std::wstring& path, const std::wstring& name, unsigned value);
    // Creating, changing or deleting this key (or any key under it) fails with access denied.
    void DenyWriting(const std::wstring& path) { m_denied.insert(Fold(path)); }
    // Every key path, in folded (lower-case) form, sorted.
    std::vector<std::wstring> AllKeys() const;

    static constexpr long kAccessDenied = 5;

private:
    struct Key {
        std::wstring name;
        std::map<std::wstring, RegistryValue> values;         // by folded name
        std::map<std::wstring, std::unique_ptr<Key>> subkeys; // by folded name
    };
    static std::wstring Fold(const std::wstring& text);
    static std::vector<std::wstring> Split(const std::wstring& path);
    Key* Find(const std::wstring& path);
    std::pair<Key*, std::wstring> Parent(const std::wstring& path);
    bool Denied(const std::wstring& path) const;
    static void Collect(const Key& key, const std::wstring& prefix, std::vector<std::wstring>& out);

    Key m_root;
    std::set<std::wstring> m_denied;
};

} // namespace ovled::service::test
