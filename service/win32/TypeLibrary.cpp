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

// Loads the library from the executable, or from a .tlb file beside it.
HRESULT Load(const std::wstring& modulePath, ComPtr<ITypeLib>& library, std::wstring& loadedFrom)
{
    loadedFrom = modulePath;
    HRESULT result = LoadTypeLib(loadedFrom.c_str(), library.put());
    if (FAILED(result)) {
        loadedFrom = TypeLibraryFileBeside(modulePath);
        result = LoadTypeLib(loadedFrom.c_str(), library.put());
    }
    return result;
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

// The class roots a registration may have written to, the per-user one first when per user.
std::vector<RegistryEditor> Roots(bool perUser)
{
    std::vector<RegistryEditor> roots;
    if (perUser)
        roots.push_back(RegistryEditor::UserClasses());
    roots.push_back(RegistryEditor::MachineClasses());
    return roots;
}

// Wine's 64-bit registration writes "win64" only; a 32-bit client then finds no library to marshal
// with. The "win32" entry names the same file. A 32-bit build's registration writes "win32" itself.
constexpr bool kWin64 = sizeof(void*) == 8;

void AddWin32Entry(const TLIBATTR& attributes, bool perUser)
{
    if (!kWin64)
        return;
    for (auto& root : Roots(perUser)) {
        const std::wstring key = LocaleKey(attributes);
        if (const auto path = root.ReadString(key + L"\\win64", L"")) {
            if (root.CreateKey(key + L"\\win32") == ERROR_SUCCESS)
                (void)root.SetString(key + L"\\win32", L"", *path);
            return;
        }
    }
}

void RemoveWin32Entry(const TLIBATTR& attributes, bool perUser)
{
    if (!kWin64)
        return;
    for (auto& root : Roots(perUser)) {
        const std::wstring key = LocaleKey(attributes);
        if (root.KeyExists(key + L"\\win64"))
            (void)root.DeleteTree(key + L"\\win32");
    }
}

} // namespace

std::wstring HelpDirectory(const std::wstring& helpFile)
{
    const size_t separator = helpFile.find_last_of(L"\\/:");
    if (separator == std::wstring::npos)
        return {};
    return helpFile.substr(0, std::min<size_t>(separator + 1, MAX_PATH - 1));
}

std::wstring TypeLibraryFileBeside(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    const size_t dot = path.find_last_of(L'.');
    const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    return (hasExtension ? path.substr(0, dot) : path) + L".tlb";
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
        AddWin32Entry(attributes, perUser);
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

    RemoveWin32Entry(copy, perUser); // first, so that the library's own removal finds nothing of ours
    const auto forUser = perUser ? OleAutomationFunction<UnregisterForUser>("UnRegisterTypeLibForUser") : nullptr;
    return forUser ? forUser(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind)
                   : UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

} // namespace ovled::win32
