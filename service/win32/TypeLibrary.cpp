#include "service/win32/TypeLibrary.h"

#include "platform/win32/Unique.h"
#include "service/Identifiers.h"
#include "service/win32/Win32Registry.h"

#include <oleauto.h>

namespace ovled::win32 {
namespace {

using RegisterForUser = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterForUser = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

template <class Function> Function OleAutomationFunction(const char* name)
{
    const HMODULE oleaut = GetModuleHandleW(L"OLEAUT32.DLL");
    return oleaut ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(oleaut, name))) : nullptr;
}

// Loads the library from the executable's own resource, and from nowhere else: a .tlb file beside it
// could have been put there by anyone who may write the folder, and the installer registers it as
// LocalSystem.
HRESULT Load(const std::wstring& modulePath, ComPtr<ITypeLib>& library, std::wstring& loadedFrom)
{
    loadedFrom = modulePath;
    return LoadTypeLib(loadedFrom.c_str(), library.put());
}

// A copy of the library's attributes; the library's own block is released at once, so nothing that
// follows (which may throw) can leak it.
HRESULT CopyAttributes(ITypeLib& library, TLIBATTR& copy)
{
    TLIBATTR* attributes = nullptr;
    const HRESULT result = library.GetLibAttr(&attributes);
    if (FAILED(result))
        return result;
    copy = *attributes;
    library.ReleaseTLibAttr(attributes);
    return S_OK;
}

std::wstring LocaleKey(const TLIBATTR& attributes)
{
    wchar_t locale[16];
    swprintf(locale, ARRAYSIZE(locale), L"%lx", static_cast<unsigned long>(attributes.lcid));
    return L"TypeLib\\" + std::wstring(service::kTypeLibraryId) + L"\\" + std::to_wstring(attributes.wMajorVerNum) +
           L"." + std::to_wstring(attributes.wMinorVerNum) + L"\\" + locale;
}

// The class root that a registration of this mode writes to: the user's, or the machine's named
// directly (HKEY_CLASSES_ROOT shows a user's keys over the machine's).
RegistryEditor ModeRoot(bool perUser)
{
    return perUser ? RegistryEditor::UserClasses() : RegistryEditor(HKEY_LOCAL_MACHINE, L"Software\\Classes");
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Wine's 64-bit registration writes "win64" only; a 32-bit client then finds no library to marshal
// with. The "win32" entry names the same file. A 32-bit build's registration writes "win32" itself.
constexpr bool kWin64 = sizeof(void*) == 8;

// Beside the "win64" entry that this registration wrote: under its mode's root, naming this file.
// (Wine's per-user registration writes machine-wide; such a registration gets no "win32" entry.)
void AddWin32Entry(const TLIBATTR& attributes, bool perUser, const std::wstring& libraryPath)
{
    if (!kWin64)
        return;
    RegistryEditor root = ModeRoot(perUser);
    const std::wstring key = LocaleKey(attributes);
    const auto path = root.ReadString(key + L"\\win64", L"");
    if (!path || !SamePath(*path, libraryPath))
        return;
    if (root.CreateKey(key + L"\\win32") == ERROR_SUCCESS)
        (void)root.SetString(key + L"\\win32", L"", *path);
}

// Only what a registration of this mode and this file wrote: a machine-wide entry is not a per-user
// run's to remove, and one naming another file belongs to another build (the 32-bit one writes its own).
void RemoveWin32Entry(const TLIBATTR& attributes, bool perUser, const std::wstring& libraryPath)
{
    if (!kWin64)
        return;
    RegistryEditor root = ModeRoot(perUser);
    const std::wstring key = LocaleKey(attributes) + L"\\win32";
    const auto path = root.ReadString(key, L"");
    if (path && SamePath(*path, libraryPath))
        (void)root.DeleteTree(key);
}

} // namespace

std::wstring HelpDirectory(const std::wstring& helpFile)
{
    const size_t separator = helpFile.find_last_of(L"\\/:");
    if (separator == std::wstring::npos)
        return {};
    return helpFile.substr(0, std::min<size_t>(separator + 1, MAX_PATH - 1));
}

HResult TypeLibraryRegistrar::Register(bool perUser)
{
    ComPtr<ITypeLib> library;
    std::wstring path;
    HRESULT result = Load(m_modulePath, library, path);
    if (FAILED(result))
        return result;

    UniqueBstr helpFile;
    std::wstring helpDirectory;
    if (SUCCEEDED(library->GetDocumentation(-1, nullptr, nullptr, nullptr, helpFile.put())) && helpFile)
        helpDirectory = HelpDirectory(helpFile.get());

    const auto forUser = perUser ? OleAutomationFunction<RegisterForUser>("RegisterTypeLibForUser") : nullptr;
    OLECHAR* help = helpDirectory.empty() ? nullptr : helpDirectory.data();
    result = forUser ? forUser(library.get(), path.data(), help) : RegisterTypeLib(library.get(), path.data(), help);
    if (FAILED(result))
        return result;

    TLIBATTR attributes{};
    if (SUCCEEDED(CopyAttributes(*library.get(), attributes)))
        AddWin32Entry(attributes, perUser, path);
    return result;
}

HResult TypeLibraryRegistrar::Unregister(bool perUser)
{
    ComPtr<ITypeLib> library;
    std::wstring path;
    HRESULT result = Load(m_modulePath, library, path);
    if (FAILED(result))
        return result;
    TLIBATTR copy{};
    result = CopyAttributes(*library.get(), copy);
    if (FAILED(result))
        return result;

    RemoveWin32Entry(copy, perUser, path); // first, so that the library's own removal finds nothing of ours
    const auto forUser = perUser ? OleAutomationFunction<UnregisterForUser>("UnRegisterTypeLibForUser") : nullptr;
    return forUser ? forUser(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind)
                   : UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

} // namespace ovled::win32
