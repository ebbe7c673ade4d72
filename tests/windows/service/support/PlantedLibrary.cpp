// A DLL that someone who may write the installation folder plants there under a system DLL's name
// (avrt.dll, winmm.dll): it exports what the executable could import from those, and leaves
// "<its own path>.loaded" behind when anything loads it.
#include <windows.h>

extern "C" {

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8] = {};
        const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatW(path, L".loaded");
            CloseHandle(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        }
    }
    return TRUE;
}

HANDLE WINAPI PlantedEnter(const wchar_t*, DWORD*) { return nullptr; }
BOOL WINAPI PlantedLeave(HANDLE) { return FALSE; }
UINT WINAPI PlantedPeriod(UINT) { return 0; }

} // extern "C"
