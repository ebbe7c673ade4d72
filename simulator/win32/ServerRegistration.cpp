#include "simulator/win32/ServerRegistration.h"

#include "platform/Paths.h"
#include "platform/win32/Unique.h"
#include "simulator/win32/SharedBoardStore.h"

#include <oaidl.h>
#include <objbase.h>

#include <vector>

namespace ovled::sim {
namespace {

constexpr wchar_t kClassesRoot[] = L"Software\\Classes\\";
constexpr wchar_t kProgId[] = L"bivorCom.axdata";

std::wstring ClsidText()
{
    win32::UniqueCoTaskMem text;
    wchar_t* raw = nullptr;
    if (FAILED(StringFromCLSID(kVirtualAcpiServerClsid, &raw)))
        return {};
    text.reset(raw);
    return raw;
}

struct RegistryValue {
    std::wstring key; // below HKLM\Software\Classes
    std::wstring name; // empty: the key's default value
    std::wstring data;
};

// Registration as data: what RegisterAcpiServer writes and UnregisterAcpiServer removes.
std::vector<RegistryValue> ServerKeys(const std::wstring& serverExe)
{
    const std::wstring clsidKey = L"CLSID\\" + ClsidText();
    return {
        {kProgId, L"", L"Virtual board ACPI automation server"},
        {std::wstring(kProgId) + L"\\CLSID", L"", ClsidText()},
        {clsidKey, L"", L"Virtual board ACPI automation server"},
        {clsidKey + L"\\ProgID", L"", kProgId},
        {clsidKey + L"\\LocalServer32", L"", L"\"" + serverExe + L"\""},
    };
}

HRESULT SetValue(const RegistryValue& value)
{
    win32::UniqueRegKey key;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kClassesRoot + value.key).c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS)
        return win32::HresultFromWin32(status);
    const auto bytes = static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t));
    status = RegSetValueExW(key.get(), value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.data.c_str()), bytes);
    return win32::HresultFromWin32(status);
}

HRESULT DeleteTree(const std::wstring& key)
{
    const LONG status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kClassesRoot + key).c_str());
    if (status == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (status != ERROR_SUCCESS)
        return win32::HresultFromWin32(status);
    // RegDeleteTreeW leaves the key itself.
    const LONG removed = RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kClassesRoot + key).c_str());
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? S_OK : win32::HresultFromWin32(removed);
}

win32::UniqueHandle OpenNamed(const wchar_t* name, HANDLE(WINAPI* open)(DWORD, BOOL, LPCWSTR), DWORD access)
{
    for (const wchar_t* prefix : kSharedPrefixes) {
        win32::UniqueHandle handle(open(access, FALSE, SharedObjectName(prefix, name).c_str()));
        if (handle)
            return handle;
    }
    return {};
}

} // namespace

HRESULT RegisterAcpiServer(const std::wstring& serverExe)
{
    for (const RegistryValue& value : ServerKeys(serverExe)) {
        const HRESULT hr = SetValue(value);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT UnregisterAcpiServer()
{
    const HRESULT progId = DeleteTree(kProgId);
    const HRESULT clsid = DeleteTree(L"CLSID\\" + ClsidText());
    return FAILED(progId) ? progId : clsid;
}

bool IsAcpiServerRegistered()
{
    CLSID clsid;
    return SUCCEEDED(CLSIDFromProgID(kProgId, &clsid)) && IsEqualCLSID(clsid, kVirtualAcpiServerClsid);
}

std::wstring ServerBesideThisExecutable()
{
    return (platform::ExecutableDirectory() / kVirtualAcpiServerExe).wstring();
}

HRESULT StartAcpiServer()
{
    win32::ComPtr<IDispatch> server;
    return CoCreateInstance(kVirtualAcpiServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, server.put_void());
}

bool StopAcpiServer(DWORD waitMillis)
{
    win32::UniqueHandle running = OpenNamed(kServerRunningMutexName, OpenMutexW, SYNCHRONIZE);
    win32::UniqueHandle stop = OpenNamed(kServerStopEventName, OpenEventW, EVENT_MODIFY_STATE);
    if (!running || !stop || !SetEvent(stop.get()))
        return false;
    const DWORD waited = WaitForSingleObject(running.get(), waitMillis);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        return false;
    ReleaseMutex(running.get());
    return true;
}

bool IsAcpiServerRunning()
{
    return static_cast<bool>(OpenNamed(kServerRunningMutexName, OpenMutexW, SYNCHRONIZE));
}

} // namespace ovled::sim
