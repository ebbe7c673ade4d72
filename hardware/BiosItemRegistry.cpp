#include "hardware/BiosItemRegistry.h"

#include "hardware/ItemIds.h"

#include <algorithm>
#include <new>

namespace ovled {
namespace {

// The number of elements whose selector lies inside the first `size` bytes, at most `claimed`.
std::int32_t ElementsPresent(const std::uint8_t* list, std::size_t size, std::uint32_t claimed)
{
    ElementCursor cursor(list, size);
    std::int32_t present = 0;
    while (static_cast<std::uint32_t>(present) < claimed && cursor.Value()) {
        ++present;
        cursor.Next();
    }
    return present;
}

} // namespace

BiosItemEnumerator::BiosItemEnumerator(IFirmwareTransport& transport) noexcept : m_transport(transport) {}

BiosItemEnumerator::~BiosItemEnumerator() = default;

void BiosItemEnumerator::FreeBuffers() noexcept
{
    m_walk = WalkState{};
    m_description.reset();
}

bool BiosItemEnumerator::Begin(std::uint32_t group)
{
    if (!m_walk.list)
        m_walk.list.reset(new (std::nothrow) Buffer);
    if (!m_walk.list)
        return false;
    // A list call whose invocation fails still answers success with the buffer as sent: a zeroed buffer
    // then reads as an empty group instead of whatever an earlier walk left in it.
    m_walk.list->fill(0);
    m_walk.position = 0;
    m_walk.total = 0;
    std::uint32_t length = kFirmwareBufferBytes;
    if (m_transport.AcpiGGrp(group, m_walk.list->data(), &length) == 0) {
        FreeBuffers();
        return false;
    }
    const std::size_t returned = std::min<std::size_t>(length, kFirmwareBufferBytes);
    m_walk.total = ElementsPresent(m_walk.list->data(), returned,
                                   ElementCount(m_walk.list->data(), returned));
    m_walk.cursor = ElementCursor(m_walk.list->data(), returned);

    if (!m_description) {
        m_description.reset(new (std::nothrow) Buffer);
        if (!m_description) {
            FreeBuffers();
            return false;
        }
        m_description->fill(0);
    }
    m_descriptionLength = kFirmwareBufferBytes;
    // An empty group has no first element to describe.
    if (m_walk.total > 0)
        FetchDescription();
    return true;
}

void BiosItemEnumerator::Next()
{
    if (m_walk.position < m_walk.total)
        ++m_walk.position;
    if (m_walk.position < m_walk.total) {
        m_walk.cursor.Next();
        FetchDescription();
    }
}

void BiosItemEnumerator::FetchDescription()
{
    const std::uint32_t selector = m_walk.cursor.Value().value_or(0);
    m_descriptionLength = kFirmwareBufferBytes;
    if (m_transport.AcpiCallMethod(&selector, m_description->data(), &m_descriptionLength) == 0)
        return;
    m_descriptionLength = std::min<std::uint32_t>(m_descriptionLength, kFirmwareBufferBytes);
    m_currentId = ElementCursor(m_description->data(), m_descriptionLength).Value().value_or(0);
}

std::unique_ptr<BiosItem> BiosItemEnumerator::CreateItem()
{
    if (!m_description)
        return nullptr;
    std::unique_ptr<BiosItem> item;
    switch (items::KindOf(m_currentId)) {
    case items::kKindString:
        item.reset(new (std::nothrow) BiosStringItem(m_transport));
        break;
    case items::kKindBoolean:
        item.reset(new (std::nothrow) BiosBooleanItem(m_transport));
        break;
    case items::kKindComposited:
        item.reset(new (std::nothrow) BiosCompositedItem(m_transport));
        break;
    default:
        item.reset(new (std::nothrow) BiosNumberItem(m_transport));
        break;
    }
    if (item)
        (void)item->Init(m_description->data(), m_descriptionLength);
    return item;
}

BiosItem* BiosItemRegistry::Get(std::uint32_t id)
{
    std::lock_guard lock(m_mutex);
    const std::uint32_t group = items::GroupOf(id);
    if (m_groups.find(group) == m_groups.end())
        LoadGroupLocked(group);
    const auto found = m_items.find(items::RegistryKey(id));
    return found == m_items.end() ? nullptr : found->second.get();
}

std::optional<std::uint32_t> BiosItemRegistry::Read(std::uint32_t id)
{
    BiosItem* item = Get(id);
    std::uint32_t value = 0;
    if (!item || !item->GetValue(&value))
        return std::nullopt;
    return value;
}

std::int32_t BiosItemRegistry::Write(std::uint32_t id, std::uint32_t value, std::uint32_t flags)
{
    BiosItem* item = Get(id);
    return item ? item->SetValueEx(value, flags) : 0;
}

void BiosItemRegistry::LoadGroupLocked(std::uint32_t group)
{
    std::vector<std::uint32_t> ids;
    BiosItemEnumerator enumerator(m_transport);
    if (enumerator.Begin(group)) {
        for (; !enumerator.AtEnd(); enumerator.Next()) {
            std::unique_ptr<BiosItem> item = enumerator.CreateItem();
            if (!item)
                continue;
            const std::uint32_t fullId = item->GetId();
            // Two items with one key: the first one stays.
            m_items.try_emplace(items::RegistryKey(fullId), std::move(item));
            ids.push_back(fullId);
        }
    }
    m_groups.emplace(group, std::move(ids));
}

} // namespace ovled
