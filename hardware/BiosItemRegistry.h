// BiosItemRegistry: the process-wide cache of firmware items. The first lookup of any id in a group
// loads the whole group (one group-list call, one description call per item) and keeps every item for
// the life of the registry; later lookups in that group never reach the firmware.
// BiosItemEnumerator: the same group walk on its own (the thermal mode searches group 6 with it).
// The registry is thread-safe (one mutex over group loading and lookups); an enumerator belongs to one
// thread at a time.
#pragma once

#include "hardware/BiosItem.h"
#include "hardware/ElementFormat.h"
#include "hardware/FirmwareTransport.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace ovled {

class BiosItemEnumerator {
public:
    explicit BiosItemEnumerator(IFirmwareTransport& transport) noexcept;
    ~BiosItemEnumerator();
    BiosItemEnumerator(const BiosItemEnumerator&) = delete;
    BiosItemEnumerator& operator=(const BiosItemEnumerator&) = delete;

    // Loads the group's list and the first item's description. False only when the list call failed.
    // A list whose element count claims more elements than its bytes hold ends where its bytes end.
    bool Begin(std::uint32_t group);
    bool AtEnd() const noexcept { return m_walk.position >= m_walk.total; }
    // The item of the current description, owned by the caller; built (and returned) even when its
    // description is malformed. Null before a successful Begin or when no memory is left.
    std::unique_ptr<BiosItem> CreateItem();
    // Moves to the next item and fetches its description. A failed fetch leaves the previous
    // description and id in place.
    void Next();
    // Element 1 of the current description: the item's full id (its kind is bits 16-19).
    std::uint32_t CurrentId() const noexcept { return m_currentId; }

private:
    using Buffer = std::array<std::uint8_t, kFirmwareBufferBytes>;
    struct WalkState {
        std::unique_ptr<Buffer> list;
        ElementCursor cursor;
        std::int32_t position = 0;
        std::int32_t total = 0;
    };

    void FetchDescription();
    void FreeBuffers() noexcept;

    IFirmwareTransport& m_transport;
    WalkState m_walk;
    std::unique_ptr<Buffer> m_description;
    std::uint32_t m_descriptionLength = 0;
    std::uint32_t m_currentId = 0;
};

class BiosItemRegistry {
public:
    // A registry over `transport`, which must outlive it (the process's Board owns one; tests may build
    // their own over a virtual board).
    explicit BiosItemRegistry(IFirmwareTransport& transport) noexcept : m_transport(transport) {}
    BiosItemRegistry(const BiosItemRegistry&) = delete;
    BiosItemRegistry& operator=(const BiosItemRegistry&) = delete;

    // The item with this group and index (kind and category are ignored), or null. Borrowed: valid for
    // the life of the registry. Loads the group on its first use; a group whose load failed stays
    // empty for the life of the registry.
    BiosItem* Get(std::uint32_t id);
    bool Exists(std::uint32_t id) { return Get(id) != nullptr; }

    // One item access by id. An item the registry does not have (no firmware, or a board without that
    // item) reads and writes as a firmware access that failed: no call goes out, a read has no value and
    // a write answers 0.
    // The item's live value; empty when the item is missing or the read failed.
    [[nodiscard]] std::optional<std::uint32_t> Read(std::uint32_t id);
    // The item's SetValueEx result (1 when the firmware took the value); 0 when the item is missing.
    [[nodiscard]] std::int32_t Write(std::uint32_t id, std::uint32_t value, std::uint32_t flags);

private:
    void LoadGroupLocked(std::uint32_t group);

    IFirmwareTransport& m_transport;
    std::mutex m_mutex;
    std::map<std::uint32_t, std::unique_ptr<BiosItem>> m_items; // registry key -> item
    std::map<std::uint32_t, std::vector<std::uint32_t>> m_groups; // group -> full ids, in list order
};

} // namespace ovled
