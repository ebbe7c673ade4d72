// Registry content as data: a tree of keys with their string values and removal rules, which can be
// applied (registration), removed (unregistration) and checked against the registry. The registry is
// reached through IRegistryEditor, relative to one root (the machine's or the user's class root).
// Used on the main thread during registration runs, and by tools and tests that check a registration.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ovled::service {

// Windows error codes used by the portable registration code.
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;

// The value types the registration writes: REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_BINARY; Other stands for
// any type it never writes.
enum class RegistryType { String, ExpandString, Dword, Binary, Other };

struct RegistryValue {
    std::wstring name; // empty: the key's default value
    RegistryType type = RegistryType::String;
    std::wstring text;              // the strings
    std::uint32_t number = 0;       // Dword
    std::vector<std::uint8_t> bytes; // Binary

    static RegistryValue String(std::wstring name, std::wstring text);
    static RegistryValue ExpandString(std::wstring name, std::wstring text);
    static RegistryValue Dword(std::wstring name, std::uint32_t number);
    static RegistryValue Binary(std::wstring name, std::vector<std::uint8_t> bytes);

    bool IsString() const noexcept { return type == RegistryType::String; }
    // The same type and data (names are not compared).
    bool SameData(const RegistryValue& other) const noexcept;
};

// Keys are named by paths relative to the editor's root, one component per level, joined with '\'.
// Names compare without regard to case, as the registry's do.
class IRegistryEditor {
public:
    virtual ~IRegistryEditor() = default;
    // Opens or creates the key and every missing parent.
    virtual long CreateKey(const std::wstring& path) = 0;
    // Writes the value under its name, replacing any value of that name.
    virtual long SetValue(const std::wstring& path, const RegistryValue& value) = 0;
    // kErrorFileNotFound when the key or the value is missing.
    virtual long DeleteValue(const std::wstring& path, const std::wstring& name) = 0;
    // Deletes the key with everything under it; kErrorFileNotFound when it is missing.
    virtual long DeleteTree(const std::wstring& path) = 0;
    // Deletes a key that has no subkeys.
    virtual long DeleteKey(const std::wstring& path) = 0;
    virtual bool KeyExists(const std::wstring& path) = 0;
    // Opens the key for writing and closes it again: kErrorFileNotFound when it is missing, access
    // denied when the caller may not change it.
    virtual long OpenForWriting(const std::wstring& path) = 0;
    virtual std::vector<std::wstring> Subkeys(const std::wstring& path) = 0;
    virtual std::vector<RegistryValue> Values(const std::wstring& path) = 0;
    virtual std::optional<std::wstring> ReadString(const std::wstring& path, const std::wstring& name) = 0;

    long SetString(const std::wstring& path, const std::wstring& name, const std::wstring& text)
    {
        return SetValue(path, RegistryValue::String(name, text));
    }
};

struct RegistryKeySpec {
    enum class Removal {
        Normal,      // created when missing; removed when no other subkeys remain
        ForceRemove, // deleted with its whole subtree before it is written anew
        NoRemove,    // a shared container: created when missing, never removed, not checked
    };
    std::wstring name;
    Removal removal = Removal::Normal;
    std::optional<std::wstring> defaultValue;
    std::vector<RegistryValue> namedValues;
    std::vector<RegistryKeySpec> subkeys;
};
using RegistryPlan = std::vector<RegistryKeySpec>;

// Writes every key and value; stops at the first failure and returns its error.
long ApplyPlan(IRegistryEditor& registry, const RegistryPlan& plan);
// Walks the same keys: deletes the named values, then each key whose listed subkeys are processed and
// which has no other subkeys left; keeps NoRemove keys and skips missing ones.
long RemovePlan(IRegistryEditor& registry, const RegistryPlan& plan);
// The differences between the registry and the plan, one line each; empty when every key holds
// exactly the planned values and subkeys.
std::vector<std::wstring> CheckPlan(IRegistryEditor& registry, const RegistryPlan& plan);

std::wstring JoinKeyPath(const std::wstring& parent, const std::wstring& name);
bool SameRegistryName(const std::wstring& a, const std::wstring& b) noexcept;

// The LightControl class: its ProgIDs and its CLSID key, served by the executable at `modulePath`.
RegistryPlan LightControlClassPlan(const std::wstring& modulePath);
// The Lighting class, the same way.
RegistryPlan LightingClassPlan(const std::wstring& modulePath);
// Every class the executable serves: LightControl, then Lighting.
RegistryPlan ServerClassesPlan(const std::wstring& modulePath);

// The event source `source` of the Application log, relative to HKEY_LOCAL_MACHINE: its messages are the
// message table of the executable at `modulePath`, and it writes errors, warnings and information.
RegistryPlan EventSourcePlan(const std::wstring& modulePath, const std::wstring& source);
inline constexpr wchar_t kEventLogApplicationKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
inline constexpr std::uint32_t kEventTypesSupported = 7; // error, warning, information

} // namespace ovled::service
