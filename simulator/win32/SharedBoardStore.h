// SharedBoardStore: the virtual board's state in a named shared-memory block, guarded by a lock that
// lives in the block itself, so the automation server, the port-I/O library, the control command and
// the tests (each in its own process) see one board. Names live in Global\ (a service runs in another
// session than a user's tools) with a Local\ fallback when Global\ objects cannot be made. The block
// exists while some process holds it; whoever makes it fresh finds it zeroed (BoardModel::EnsureValid
// fills it). Any thread of any process may use a store.
#pragma once

#include "platform/win32/Unique.h"
#include "simulator/BoardModel.h"
#include "simulator/ProcessSharedLock.h"

#include <memory>

namespace ovled::sim {

class SharedBoardStore final : public IBoardStore {
public:
    // Opens (or makes) the block and its mutex; null when neither namespace can be used.
    static std::unique_ptr<SharedBoardStore> Open();

    BoardState& State() noexcept override;
    void lock() override { m_lock->lock(); }
    void unlock() override { m_lock->unlock(); }
    // This process made the block (no other process held it).
    bool Fresh() const noexcept { return m_fresh; }

private:
    SharedBoardStore() = default;

    win32::UniqueHandle m_mapping;
    win32::UniqueMappedView m_view;
    std::unique_ptr<ProcessSharedLock> m_lock;
    bool m_fresh = false;
};

// The namespaces of the shared objects, in the order they are tried.
inline constexpr const wchar_t* kSharedPrefixes[] = {L"Global\\", L"Local\\"};

// Names of the shared objects, with the namespace prefix to try first ("Global\\") or last ("Local\\").
std::wstring SharedObjectName(const wchar_t* prefix, const wchar_t* name);

// A named event the automation server waits on; setting it ends the server. Made by the server.
inline constexpr wchar_t kServerStopEventName[] = L"OvLedVirtualAcpiServerStop";

// Security attributes that let every local account use a shared object (the service runs as
// LocalSystem, the control command and the viewer as the user). Holds the descriptor's memory.
class OpenToEveryone {
public:
    OpenToEveryone() noexcept;
    SECURITY_ATTRIBUTES* get() noexcept { return m_descriptor ? &m_attributes : nullptr; }

private:
    win32::UniqueLocalMemory m_descriptor;
    SECURITY_ATTRIBUTES m_attributes{};
};

} // namespace ovled::sim
