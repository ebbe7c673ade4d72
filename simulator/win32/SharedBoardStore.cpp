#include "simulator/win32/SharedBoardStore.h"

#include <sddl.h>

#include <cstddef>
#include <string>

namespace ovled::sim {
namespace {

constexpr wchar_t kMappingName[] = L"OvLedVirtualBoard";

// The mapped block: the lock word, then the board. A port byte through ovio.dll takes the lock once,
// and a register write is some thirty port accesses, so the lock must cost what an uncontended
// interlocked instruction costs: a named mutex costs two trips to the kernel (to wineserver under
// Wine) per access.
struct SharedBlock {
    std::uint32_t lockOwner; // the holder's process id, 0: free
    std::uint32_t reserved;
    BoardState state;
};
static_assert(offsetof(SharedBlock, state) % 8 == 0, "same layout in 32- and 64-bit processes");

class ProcessLockHost final : public ILockHost {
public:
    std::uint32_t Self() noexcept override { return GetCurrentProcessId(); }
    bool Alive(std::uint32_t owner) noexcept override
    {
        win32::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, owner));
        // No such process: it ended. Denied: it runs under an account this one cannot look at.
        if (!process)
            return GetLastError() != ERROR_INVALID_PARAMETER;
        return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
    }
    void LetOthersRun() noexcept override { SwitchToThread(); }
    void Nap() noexcept override { Sleep(1); }
};

ProcessLockHost g_lockHost;

SharedBlock& Block(const win32::UniqueMappedView& view) noexcept
{
    return *static_cast<SharedBlock*>(view.get());
}

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
        store->m_mapping.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0,
                                                  sizeof(SharedBlock),
                                                  SharedObjectName(prefix, kMappingName).c_str()));
        if (!store->m_mapping)
            continue;
        store->m_fresh = GetLastError() != ERROR_ALREADY_EXISTS;
        store->m_view.reset(MapViewOfFile(store->m_mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedBlock)));
        if (!store->m_view)
            continue;
        store->m_lock = std::make_unique<ProcessSharedLock>(Block(store->m_view).lockOwner, g_lockHost);
        return store;
    }
    return nullptr;
}

BoardState& SharedBoardStore::State() noexcept
{
    return Block(m_view).state;
}

} // namespace ovled::sim
