#include "lighting/win32/ConsoleWatch.h"

#include "lighting/LightsOff.h"
#include "platform/win32/SystemLibrary.h"

#include <wtsapi32.h>

#include <cstring>

namespace ovled::win32 {
namespace {

// The head of WTSINFOEXW at level 1, which mingw-w64's headers lack: enough to read the session's flags.
struct SessionInfoLevel1Head {
    LONG sessionId;
    LONG sessionState;
    LONG sessionFlags;
};
struct SessionInfoExHead {
    DWORD level;
    alignas(8) SessionInfoLevel1Head level1; // a union with a LARGE_INTEGER in the platform's layout
};
constexpr auto kSessionInfoEx = static_cast<WTS_INFO_CLASS>(25); // WTSSessionInfoEx
constexpr LONG kSessionStateLock = 0;                           // WTS_SESSIONSTATE_LOCK

// wtsapi32.dll is not one of the system's known DLLs: its functions come from System32 by name.
bool SessionLocked(DWORD session) noexcept
{
    using Query = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
    using Free = void(WINAPI*)(void*);
    static const Query query = SystemFunction<Query>(L"wtsapi32.dll", "WTSQuerySessionInformationW");
    static const Free release = SystemFunction<Free>(L"wtsapi32.dll", "WTSFreeMemory");
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!query || !release || !query(WTS_CURRENT_SERVER_HANDLE, session, kSessionInfoEx, &buffer, &bytes))
        return false; // unknown: not locked, the lights stay as they are
    bool locked = false;
    if (bytes >= sizeof(SessionInfoExHead)) {
        SessionInfoExHead head;
        std::memcpy(&head, buffer, sizeof(head));
        locked = head.level == 1 && head.level1.sessionFlags == kSessionStateLock;
    }
    release(buffer);
    return locked;
}

} // namespace

std::optional<bool> ConsoleLockedAfterEvent(DWORD event, DWORD session) noexcept
{
    const bool locked = event == kSessionConsoleConnect && SessionLocked(session);
    return ConsoleLockedAfter(event, session, WTSGetActiveConsoleSessionId(), locked);
}

std::optional<bool> DisplayOffFromSetting(const POWERBROADCAST_SETTING* setting) noexcept
{
    if (!setting || setting->PowerSetting != GUID_CONSOLE_DISPLAY_STATE || setting->DataLength < sizeof(DWORD))
        return std::nullopt;
    DWORD state = 0;
    std::memcpy(&state, setting->Data, sizeof(state));
    return state == 0; // 0 off, 1 on, 2 dimmed
}

} // namespace ovled::win32
