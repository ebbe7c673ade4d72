#include "service/RegistryPlan.h"

#include "service/Identifiers.h"

#include <algorithm>
#include <cwctype>

namespace ovled::service {
namespace {

using Removal = RegistryKeySpec::Removal;

wchar_t FoldName(wchar_t c) noexcept
{
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

long ApplyKey(IRegistryEditor& registry, const std::wstring& parent, const RegistryKeySpec& key)
{
    const std::wstring path = JoinKeyPath(parent, key.name);
    if (key.removal == Removal::ForceRemove)
        (void)registry.DeleteTree(path); // a missing key is the usual case
    if (const long error = registry.CreateKey(path))
        return error;
    if (key.defaultValue) {
        if (const long error = registry.SetString(path, L"", *key.defaultValue))
            return error;
    }
    for (const auto& value : key.namedValues) {
        if (const long error = registry.SetValue(path, value))
            return error;
    }
    for (const auto& subkey : key.subkeys) {
        if (const long error = ApplyKey(registry, path, subkey))
            return error;
    }
    return kErrorSuccess;
}

long RemoveKey(IRegistryEditor& registry, const std::wstring& parent, const RegistryKeySpec& key)
{
    const std::wstring path = JoinKeyPath(parent, key.name);
    if (!registry.KeyExists(path))
        return kErrorSuccess;
    for (const auto& subkey : key.subkeys) {
        if (const long error = RemoveKey(registry, path, subkey))
            return error;
    }
    for (const auto& value : key.namedValues) {
        const long error = registry.DeleteValue(path, value.name);
        if (error != kErrorSuccess && error != kErrorFileNotFound)
            return error;
    }
    if (key.removal == Removal::NoRemove || !registry.Subkeys(path).empty())
        return kErrorSuccess;
    return registry.DeleteKey(path);
}

template <class Names> bool Contains(const Names& names, const std::wstring& name)
{
    return std::any_of(names.begin(), names.end(), [&](const auto& n) { return SameRegistryName(n, name); });
}

std::wstring Show(const std::wstring& name)
{
    return name.empty() ? L"(default)" : name;
}

std::wstring ShowData(const RegistryValue& value)
{
    switch (value.type) {
    case RegistryType::String:
    case RegistryType::ExpandString:
        return value.text;
    case RegistryType::Dword:
        return std::to_wstring(value.number);
    case RegistryType::Binary: {
        static constexpr wchar_t kDigits[] = L"0123456789abcdef";
        std::wstring hex;
        for (const std::uint8_t byte : value.bytes) {
            hex += kDigits[byte >> 4];
            hex += kDigits[byte & 0xF];
        }
        return hex;
    }
    case RegistryType::Other:
        break;
    }
    return L"?";
}

void CheckKey(IRegistryEditor& registry, const std::wstring& parent, const RegistryKeySpec& key,
              std::vector<std::wstring>& differences)
{
    const std::wstring path = JoinKeyPath(parent, key.name);
    if (!registry.KeyExists(path)) {
        differences.push_back(L"missing key " + path);
        return;
    }
    if (key.removal != Removal::NoRemove) {
        std::vector<RegistryValue> expected = key.namedValues;
        if (key.defaultValue)
            expected.push_back(RegistryValue::String(L"", *key.defaultValue));
        const auto actual = registry.Values(path);
        for (const auto& entry : expected) {
            const auto found = std::find_if(actual.begin(), actual.end(), [&](const RegistryValue& v) {
                return SameRegistryName(v.name, entry.name);
            });
            if (found == actual.end())
                differences.push_back(L"missing value " + path + L" " + Show(entry.name));
            else if (!found->SameData(entry))
                differences.push_back(L"value " + path + L" " + Show(entry.name) + L" is \"" + ShowData(*found) +
                                      L"\", not \"" + ShowData(entry) + L"\"");
        }
        for (const auto& value : actual) {
            const bool planned = std::any_of(expected.begin(), expected.end(),
                                             [&](const auto& e) { return SameRegistryName(e.name, value.name); });
            if (!planned)
                differences.push_back(L"unexpected value " + path + L" " + Show(value.name));
        }
        std::vector<std::wstring> plannedKeys;
        for (const auto& subkey : key.subkeys)
            plannedKeys.push_back(subkey.name);
        for (const auto& subkey : registry.Subkeys(path)) {
            if (!Contains(plannedKeys, subkey))
                differences.push_back(L"unexpected key " + JoinKeyPath(path, subkey));
        }
    }
    for (const auto& subkey : key.subkeys)
        CheckKey(registry, path, subkey, differences);
}

RegistryKeySpec Key(std::wstring name, std::optional<std::wstring> defaultValue,
                    std::vector<RegistryKeySpec> subkeys = {}, Removal removal = Removal::Normal)
{
    RegistryKeySpec key;
    key.name = std::move(name);
    key.defaultValue = std::move(defaultValue);
    key.subkeys = std::move(subkeys);
    key.removal = removal;
    return key;
}

} // namespace

RegistryValue RegistryValue::String(std::wstring name, std::wstring text)
{
    return {std::move(name), RegistryType::String, std::move(text), 0, {}};
}

RegistryValue RegistryValue::ExpandString(std::wstring name, std::wstring text)
{
    return {std::move(name), RegistryType::ExpandString, std::move(text), 0, {}};
}

RegistryValue RegistryValue::Dword(std::wstring name, std::uint32_t number)
{
    return {std::move(name), RegistryType::Dword, {}, number, {}};
}

RegistryValue RegistryValue::Binary(std::wstring name, std::vector<std::uint8_t> bytes)
{
    return {std::move(name), RegistryType::Binary, {}, 0, std::move(bytes)};
}

bool RegistryValue::SameData(const RegistryValue& other) const noexcept
{
    return type == other.type && text == other.text && number == other.number && bytes == other.bytes;
}

std::wstring JoinKeyPath(const std::wstring& parent, const std::wstring& name)
{
    return parent.empty() ? name : parent + L"\\" + name;
}

bool SameRegistryName(const std::wstring& a, const std::wstring& b) noexcept
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return FoldName(x) == FoldName(y); });
}

long ApplyPlan(IRegistryEditor& registry, const RegistryPlan& plan)
{
    for (const auto& key : plan) {
        if (const long error = ApplyKey(registry, L"", key))
            return error;
    }
    return kErrorSuccess;
}

long RemovePlan(IRegistryEditor& registry, const RegistryPlan& plan)
{
    for (const auto& key : plan) {
        if (const long error = RemoveKey(registry, L"", key))
            return error;
    }
    return kErrorSuccess;
}

std::vector<std::wstring> CheckPlan(IRegistryEditor& registry, const RegistryPlan& plan)
{
    std::vector<std::wstring> differences;
    for (const auto& key : plan)
        CheckKey(registry, L"", key, differences);
    return differences;
}

namespace {

struct ClassNames {
    std::wstring_view clsid;
    std::wstring_view progId;
    std::wstring_view versionIndependentProgId;
    std::wstring_view description;
};

RegistryPlan ClassPlan(const ClassNames& names, const std::wstring& modulePath)
{
    const std::wstring clsid(names.clsid);
    const std::wstring description(names.description);
    const std::wstring progId(names.progId);
    const std::wstring versionIndependent(names.versionIndependentProgId);

    // The executable is a local server: its path is written in double quotes, so that a path with
    // spaces is one command; every other character (a single quote included) stays as it is.
    RegistryKeySpec classKey = Key(clsid, description,
                                   {
                                       Key(L"ProgID", progId),
                                       Key(L"VersionIndependentProgID", versionIndependent),
                                       Key(L"Programmable", std::nullopt, {}, Removal::ForceRemove),
                                       Key(L"LocalServer32", L"\"" + modulePath + L"\""),
                                       Key(L"TypeLib", std::wstring(kTypeLibraryId)),
                                       Key(L"Version", std::wstring(kTypeLibraryVersion)),
                                   },
                                   Removal::ForceRemove);
    classKey.namedValues.push_back(RegistryValue::String(L"AppID", std::wstring(kAppId)));

    return {
        Key(progId, description, {Key(L"CLSID", clsid)}),
        Key(versionIndependent, description, {Key(L"CurVer", progId)}),
        Key(L"CLSID", std::nullopt, {std::move(classKey)}, Removal::NoRemove),
    };
}

} // namespace

RegistryPlan LightControlClassPlan(const std::wstring& modulePath)
{
    return ClassPlan({kLightControlClsid, kProgId, kVersionIndependentProgId, kClassDescription}, modulePath);
}

RegistryPlan LightingClassPlan(const std::wstring& modulePath)
{
    return ClassPlan({kLightingClsid, kLightingProgId, kLightingVersionIndependentProgId, kLightingDescription},
                     modulePath);
}

RegistryPlan ServerClassesPlan(const std::wstring& modulePath)
{
    RegistryPlan plan = LightControlClassPlan(modulePath);
    for (RegistryKeySpec& key : LightingClassPlan(modulePath))
        plan.push_back(std::move(key));
    return plan;
}

RegistryPlan EventSourcePlan(const std::wstring& modulePath, const std::wstring& source)
{
    RegistryKeySpec sourceKey = Key(source, std::nullopt, {}, Removal::ForceRemove);
    sourceKey.namedValues = {RegistryValue::ExpandString(L"EventMessageFile", modulePath),
                             RegistryValue::Dword(L"TypesSupported", kEventTypesSupported)};
    return {Key(kEventLogApplicationKey, std::nullopt, {std::move(sourceKey)}, Removal::NoRemove)};
}

} // namespace ovled::service
