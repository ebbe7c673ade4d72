// ovled-wix-registration: writes the registration that /Service performs as WiX include files for the
// installer package, from the same data and identifiers the executable registers with, and the rows of
// the tables wixl cannot write (the installation folder's ACL, the service's recovery) as SQL for
// msibuild. A host tool, run once per package build by scripts/build-msi.sh; single-threaded.
//
//   ovled-wix-registration <folder>   writes <folder>/Service.wxi, <folder>/Registry.wxi and
//                                     <folder>/Tables.sql (one statement a line)
#include "service/AccessPolicy.h"
#include "service/Identifiers.h"
#include "service/Registration.h"
#include "service/RegistryPlan.h"
#include "service/ServiceInstaller.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

using ovled::service::RegistryKeySpec;
using ovled::service::RegistryType;
using ovled::service::RegistryValue;
using Removal = RegistryKeySpec::Removal;

// The File element of the service executable in the package; registry values name its installed path
// through the formatted reference [#id].
constexpr char kServiceFileId[] = "OvLedService.exe";

// Stands for the executable's path in the plan until the value is written as formatted text.
constexpr wchar_t kModuleMark = L'\x1';

std::string CharacterReference(wchar_t c)
{
    char reference[16];
    std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(c));
    return reference;
}

// Registry values of the package are formatted text: the mark becomes the reference to the installed
// executable and brackets are escaped; empty for any other character, which stands for itself.
std::string FormattedSpecial(wchar_t c)
{
    if (c == kModuleMark)
        return std::string("[#") + kServiceFileId + "]";
    if (c == L'[' || c == L']')
        return std::string("[\\") + static_cast<char>(c) + "]";
    return {};
}

// The formatted text as the Registry table holds it, for msibuild's SQL: printable ASCII without quotes.
std::string FormattedValue(const std::wstring& text)
{
    std::string out;
    for (const wchar_t c : text) {
        if (const std::string special = FormattedSpecial(c); !special.empty())
            out += special;
        else if (c >= 0x20 && c < 0x7F && c != L'\'')
            out += static_cast<char>(c);
        else
            throw std::invalid_argument("a value msibuild's SQL cannot carry");
    }
    return out;
}

// The formatted text as an XML attribute: anything outside printable ASCII is a character reference.
std::string FormattedAttribute(const std::wstring& text)
{
    std::string out;
    for (const wchar_t c : text) {
        if (const std::string special = FormattedSpecial(c); !special.empty())
            out += special;
        else if (c == L'"')
            out += "&quot;";
        else if (c == L'&')
            out += "&amp;";
        else if (c == L'<')
            out += "&lt;";
        else if (c == L'>')
            out += "&gt;";
        else if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else
            out += CharacterReference(c);
    }
    return out;
}

// A preprocessor value: substituted after the package source is parsed and used where the package
// formats text, so only characters that mean the same in every one of those places are accepted.
std::string Plain(std::wstring_view text)
{
    std::string out;
    for (const wchar_t c : text) {
        if (c < 0x20 || c >= 0x7F || c == L'"' || c == L'[' || c == L']' || c == L'&' || c == L'<' || c == L'>' ||
            c == L'$' || c == L'?')
            throw std::invalid_argument("not plain text: " + out + "...");
        out += static_cast<char>(c);
    }
    return out;
}

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (const std::uint8_t byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return hex;
}

// A text literal of msibuild's SQL.
std::string Quoted(std::wstring_view text)
{
    return "'" + Plain(text) + "'";
}

// wixl writes a binary or expandable value as the plain string it is given (without MSI's "#x" or "#%"
// mark): the row is corrected afterwards, by this statement for msibuild.
std::string MarkValue(const std::wstring& key, const std::wstring& name, const std::string& marked)
{
    return "UPDATE `Registry` SET `Value` = '" + marked + "' WHERE `Key` = " + Quoted(key) + " AND `Name` = " +
           Quoted(name) + "\n";
}

// `root` is the package's name of the registry root: HKCR or HKLM. Corrections for msibuild go to `sql`.
void WriteValue(std::ostream& out, std::string& sql, const char* root, const std::wstring& key,
                const RegistryValue& value)
{
    out << "  <RegistryValue Root=\"" << root << "\" Key=\"" << FormattedAttribute(key) << '"';
    if (!value.name.empty())
        out << " Name=\"" << FormattedAttribute(value.name) << '"';
    switch (value.type) {
    case RegistryType::String:
        out << " Type=\"string\" Value=\"" << FormattedAttribute(value.text) << '"';
        break;
    case RegistryType::ExpandString:
        out << " Type=\"expandable\" Value=\"" << FormattedAttribute(value.text) << '"';
        sql += MarkValue(key, value.name, "#%" + FormattedValue(value.text));
        break;
    case RegistryType::Dword:
        out << " Type=\"integer\" Value=\"" << value.number << '"';
        break;
    case RegistryType::Binary:
        out << " Type=\"binary\" Value=\"" << Hex(value.bytes) << '"';
        sql += MarkValue(key, value.name, "#x" + Hex(value.bytes));
        break;
    case RegistryType::Other:
        throw std::invalid_argument("a value of a type the package cannot write");
    }
    out << " />\n";
}

// A key's own rows. A key written anew on every registration is removed whole on uninstall ("*"); a key
// without values is created on install ("+"); a shared container gets no row and is never removed.
void WriteKey(std::ostream& out, std::string& sql, const char* root, const std::wstring& parent,
              const RegistryKeySpec& key)
{
    const std::wstring path = ovled::service::JoinKeyPath(parent, key.name);
    const bool hasValues = key.defaultValue || !key.namedValues.empty();
    if (key.removal == Removal::ForceRemove)
        WriteValue(out, sql, root, path, RegistryValue::String(L"*", L""));
    else if (key.removal == Removal::Normal && !hasValues)
        WriteValue(out, sql, root, path, RegistryValue::String(L"+", L""));
    if (key.defaultValue)
        WriteValue(out, sql, root, path, RegistryValue::String(L"", *key.defaultValue));
    for (const auto& value : key.namedValues)
        WriteValue(out, sql, root, path, value);
    for (const auto& subkey : key.subkeys)
        WriteKey(out, sql, root, path, subkey);
}

// The rows that wixl cannot write, for msibuild: the installation folder's ACL (applied when the folder
// is created or found, before any file is installed into it; an installer that cannot set it fails), and
// the service's recovery (applied with the service's installation and reinstallation).
std::string Tables()
{
    namespace svc = ovled::service;
    std::string sql;
    sql += "CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL, `LockObject` CHAR(72) "
           "NOT NULL, `Table` CHAR(32) NOT NULL, `SDDL` LONGCHAR NOT NULL, `Condition` CHAR(255) PRIMARY KEY "
           "`MsiLockPermissionsEx`)\n";
    sql += "INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDL`) VALUES "
           "('InstallFolderAcl', 'INSTALLFOLDER', 'CreateFolder', " +
           Quoted(svc::kInstallFolderSddl) + ")\n";

    const svc::ServiceRecovery recovery = svc::Recovery();
    std::string actions;
    std::string delays;
    for (const auto& action : recovery.actions) {
        const std::string separator = actions.empty() ? "" : "[~]";
        actions += separator + std::to_string(static_cast<std::uint32_t>(action.kind));
        delays += separator + std::to_string(action.delayMs);
    }
    sql += "CREATE TABLE `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions` CHAR(72) NOT NULL, "
           "`Name` CHAR(255) NOT NULL, `Event` SHORT NOT NULL, `ResetPeriod` LONG, `RebootMessage` CHAR(255) "
           "LOCALIZABLE, `Command` CHAR(255), `Actions` CHAR(255), `DelayActions` CHAR(255), `Component_` CHAR(72) "
           "NOT NULL PRIMARY KEY `MsiServiceConfigFailureActions`)\n";
    // Event 5: on installation (1) and reinstallation (4).
    sql += "INSERT INTO `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions`, `Name`, `Event`, "
           "`ResetPeriod`, `Actions`, `DelayActions`, `Component_`) VALUES ('ServiceRecovery', " +
           Quoted(svc::kServiceName) + ", 5, " + std::to_string(recovery.resetPeriodSeconds) + ", '" + actions +
           "', '" + delays + "', 'ServiceComponent')\n";
    return sql;
}

bool WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    file.close();
    if (!file) {
        std::cerr << "ovled-wix-registration: cannot write " << path << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
try {
    if (argc != 2) {
        std::cerr << "usage: ovled-wix-registration <folder>\n";
        return 2;
    }
    const std::string folder = argv[1];
    namespace svc = ovled::service;

    // Preprocessor values: substituted after the package source is parsed, so they are plain text.
    std::string service = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- Generated by ovled-wix-registration. -->\n"
                          "<Include>\n";
    service += "  <?define ServiceFileId = \"" + std::string(kServiceFileId) + "\" ?>\n";
    service += "  <?define ServiceName = \"" + Plain(svc::kServiceName) + "\" ?>\n";
    service += "  <?define ServiceDescription = \"" + Plain(svc::kServiceDescription) + "\" ?>\n";
    service += "  <?define ServiceDependency = \"" + Plain(svc::kServiceDependency) + "\" ?>\n";
    service += "</Include>\n";

    std::ostringstream registry;
    std::string sql = Tables();
    registry << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- Generated by ovled-wix-registration. -->\n"
                "<Include>\n";
    // The AppID values that make the executable run as the service and say who may reach it; the key
    // itself is shared.
    WriteValue(registry, sql, "HKCR", svc::AppIdKeyPath(),
               RegistryValue::String(std::wstring(svc::kLocalServiceValue), std::wstring(svc::kServiceName)));
    for (const auto& value : svc::AppIdPolicyValues())
        WriteValue(registry, sql, "HKCR", svc::AppIdKeyPath(), value);
    const std::wstring module(1, kModuleMark);
    for (const auto& key : svc::ServerClassesPlan(module))
        WriteKey(registry, sql, "HKCR", L"", key);
    for (const auto& key : svc::EventSourcePlan(module, std::wstring(svc::kServiceName)))
        WriteKey(registry, sql, "HKLM", L"", key);
    registry << "</Include>\n";

    return WriteFile(folder + "/Service.wxi", service) && WriteFile(folder + "/Registry.wxi", registry.str()) &&
                   WriteFile(folder + "/Tables.sql", sql)
               ? 0
               : 1;
} catch (const std::exception& error) {
    std::cerr << "ovled-wix-registration: " << error.what() << '\n';
    return 1;
}
