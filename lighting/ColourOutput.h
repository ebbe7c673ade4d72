// The music colour's per-tick output: one colour for every device that is in music mode. The effect owns
// no devices; its owner hands it an IColourOutput (the lighting manager's routing to its devices in the
// service, a recorder in tests). Write is called on the colour thread only, once per tick.
#pragma once

#include "lighting/HslToRgb.h"

#include <algorithm>
#include <span>

namespace ovled {

// The devices enabled for one tick: sorted, without duplicates. A copy taken under the effect's lock at
// the start of the tick, so enabling and disabling never wait for the writes of a tick.
class EnabledDevices {
public:
    explicit EnabledDevices(std::span<const int> sortedIndices) noexcept : m_indices(sortedIndices) {}
    bool Contains(int deviceIndex) const noexcept
    {
        return std::binary_search(m_indices.begin(), m_indices.end(), deviceIndex);
    }
    std::span<const int> Indices() const noexcept { return m_indices; }
    bool Empty() const noexcept { return m_indices.empty(); }

private:
    std::span<const int> m_indices;
};

class IColourOutput {
public:
    virtual ~IColourOutput() = default;
    // Puts `colour` on every device of `devices` that exists; other indices are ignored. Failed writes
    // are not reported: the next tick writes again.
    virtual void Write(const EnabledDevices& devices, Rgb colour) noexcept = 0;
    // A new run of the colour thread begins: forget what the devices were last given.
    virtual void Restart() noexcept {}
};

} // namespace ovled
