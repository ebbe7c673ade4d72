#include "service/AccessPolicy.h"

#include <array>
#include <stdexcept>
#include <string>

namespace ovled::service {
namespace {

struct Sid {
    std::uint8_t authority;
    std::vector<std::uint32_t> subAuthorities;
};

// The NT authority's well-known accounts that an access policy names.
Sid Account(std::wstring_view alias)
{
    if (alias == L"SY")
        return {5, {18}}; // LocalSystem
    if (alias == L"BA")
        return {5, {32, 544}}; // Administrators
    if (alias == L"BU")
        return {5, {32, 545}}; // Users
    if (alias == L"IU")
        return {5, {4}}; // INTERACTIVE: every interactive logon, local or remote desktop
    if (alias == L"AU")
        return {5, {11}}; // Authenticated Users
    throw std::invalid_argument("an account this policy does not name");
}

void Append32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::size_t value)
{
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::size_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void AppendSid(std::vector<std::uint8_t>& out, const Sid& sid)
{
    out.push_back(1); // revision
    out.push_back(static_cast<std::uint8_t>(sid.subAuthorities.size()));
    const std::array<std::uint8_t, 6> authority{0, 0, 0, 0, 0, sid.authority}; // big-endian
    out.insert(out.end(), authority.begin(), authority.end());
    for (const std::uint32_t sub : sid.subAuthorities)
        Append32(out, sub);
}

// Reads "<tag>XX" at `at` and returns the alias.
std::wstring_view Field(std::wstring_view text, std::size_t& at, std::wstring_view tag)
{
    if (text.substr(at, tag.size()) != tag || at + tag.size() + 2 > text.size())
        throw std::invalid_argument("not the policy's form of SDDL");
    at += tag.size() + 2;
    return text.substr(at - 2, 2);
}

} // namespace

std::vector<std::uint8_t> SelfRelativeDescriptor(std::wstring_view sddl)
{
    std::size_t at = 0;
    const Sid owner = Account(Field(sddl, at, L"O:"));
    const Sid group = Account(Field(sddl, at, L"G:"));
    if (sddl.substr(at, 2) != L"D:")
        throw std::invalid_argument("the policy has no DACL");
    at += 2;

    std::vector<std::uint8_t> aces;
    std::size_t count = 0;
    while (at < sddl.size()) {
        // (A;;0x<mask>;;;<account>)
        const std::size_t end = sddl.find(L')', at);
        if (sddl.substr(at, 6) != L"(A;;0x" || end == std::wstring_view::npos || end < at + 10)
            throw std::invalid_argument("not an allow entry with a hex mask");
        const std::wstring_view mask = sddl.substr(at + 6, sddl.find(L';', at + 6) - (at + 6));
        const std::size_t account = at + 6 + mask.size();
        if (sddl.substr(account, 3) != L";;;" || end != account + 5)
            throw std::invalid_argument("not an allow entry of an account");
        const Sid sid = Account(sddl.substr(account + 3, 2));
        // One to eight hex digits, nothing else (no sign, space or second "0x").
        if (mask.empty() || mask.size() > 8)
            throw std::invalid_argument("not a hex mask");
        std::uint32_t rights = 0;
        for (const wchar_t digit : mask) {
            const int value = digit >= L'0' && digit <= L'9'   ? digit - L'0'
                              : digit >= L'a' && digit <= L'f' ? digit - L'a' + 10
                              : digit >= L'A' && digit <= L'F' ? digit - L'A' + 10
                                                               : -1;
            if (value < 0)
                throw std::invalid_argument("not a hex mask");
            rights = rights << 4 | static_cast<std::uint32_t>(value);
        }
        const std::size_t start = aces.size();
        aces.insert(aces.end(), {0 /* allowed */, 0 /* no flags */, 0, 0});
        Append32(aces, rights);
        AppendSid(aces, sid);
        Put16(aces, start + 2, aces.size() - start);
        ++count;
        at = end + 1;
    }

    std::vector<std::uint8_t> out(20, 0);
    out[0] = 1;                     // revision
    Put16(out, 2, 0x8000 | 0x0004); // self-relative, DACL present
    Put32(out, 4, out.size());
    AppendSid(out, owner);
    Put32(out, 8, out.size());
    AppendSid(out, group);
    Put32(out, 16, out.size()); // no SACL (offset 12 stays 0)
    const std::size_t acl = out.size();
    out.insert(out.end(), {2 /* revision */, 0, 0, 0, 0, 0, 0, 0});
    Put16(out, acl + 2, 8 + aces.size());
    Put16(out, acl + 4, count);
    out.insert(out.end(), aces.begin(), aces.end());
    return out;
}

std::vector<RegistryValue> AppIdPolicyValues()
{
    return {RegistryValue::Binary(std::wstring(kAccessPermissionValue), SelfRelativeDescriptor(kAccessPermissionSddl)),
            RegistryValue::Binary(std::wstring(kLaunchPermissionValue), SelfRelativeDescriptor(kLaunchPermissionSddl))};
}

} // namespace ovled::service
