// Functions of the system DLLs that are not among the KnownDLLs (avrt.dll, winmm.dll). A static import of
// such a DLL is looked for in the executable's folder first, before any code of ours runs: a DLL planted
// there would run as LocalSystem in the service (and in the installer's registration steps). So they are
// never imported: each function is looked up in the copy in System32, and the DLL stays loaded for the
// process. Any thread.
#pragma once

#include <windows.h>

namespace ovled::win32 {

// Null (with the last error set) when the DLL or the function cannot be found in System32.
template <class Function>
Function SystemFunction(const wchar_t* library, const char* name) noexcept
{
    const HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

} // namespace ovled::win32
