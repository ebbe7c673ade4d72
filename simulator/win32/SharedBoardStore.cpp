#include "simulator/win32/SharedBoardStore.h"

#include <sddl.h>

#include <string>

namespace ovled::sim {
namespace {

constexpr wchar_t kMappingName[] = L"OvLedVirtualBoard";
constexpr wchar_t kMutexName[] = L"OvLedVirtualBoardLock";

} // namespace

std::wstring SharedObjectName(const wchar_t* prefix, const wchar_t* name)
{
    return std::wstring(prefix) + name;
}

OpenToEveryone::OpenToEveryone() noexcept
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // Generic all for everyone (WD).
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;WD)", SDDL_REVISION_1, &descriptor,
                                                             nullptr)) {
        m_descriptor.reset(descriptor);
        m_attributes.nLength = sizeof m_attributes;
        m_attributes.lpSecurityDescriptor = descriptor;
        m_attributes.bInheritHandle = FALSE;
    }
}

std::unique_ptr<SharedBoardStore> SharedBoardStore::Open()
{
    OpenToEveryone security;
    for (const wchar_t* prefix : kSharedPrefixes) {
        std::unique_ptr<SharedBoardStore> store(new SharedBoardStore);
        store->m_mutex.reset(CreateMutexW(security.get(), FALSE, SharedObjectName(prefix, kMutexName).c_str()));
        if (!store->m_mutex)
            continue;
        store->m_mapping.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0,
                                                  sizeof(BoardState),
                                                  SharedObjectName(prefix, kMappingName).c_str()));
        if (!store->m_mapping)
            continue;
        store->m_fresh = GetLastError() != ERROR_ALREADY_EXISTS;
        store->m_view.reset(MapViewOfFile(store->m_mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(BoardState)));
        if (store->m_view)
            return store;
    }
    return nullptr;
}

void SharedBoardStore::lock()
{
    // An abandoned mutex (a process died holding it) is ours now; the board may be half-changed, which
    // a test stand-in can live with.
    WaitForSingleObject(m_mutex.get(), INFINITE);
}

void SharedBoardStore::unlock()
{
    ReleaseMutex(m_mutex.get());
}

} // namespace ovled::sim
