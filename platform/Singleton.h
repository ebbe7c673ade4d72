// Process-wide singletons are created on first use and never destroyed; tests give each case its
// own object by installing it here for the life of a scope:
//     LightingSettings settings(tempFolder / "Lighting.xml");
//     ScopedInstanceOverride<LightingSettings> use(settings);   // LightingSettings::Instance() == &settings
#pragma once

#include <atomic>

namespace ovled::platform {

template <class T>
class ScopedInstanceOverride {
public:
    explicit ScopedInstanceOverride(T& instance) noexcept : m_previous(Slot().exchange(&instance)) {}
    ~ScopedInstanceOverride() { Slot().store(m_previous); }
    ScopedInstanceOverride(const ScopedInstanceOverride&) = delete;
    ScopedInstanceOverride& operator=(const ScopedInstanceOverride&) = delete;

    // The installed instance, or null when none is installed.
    static T* Current() noexcept { return Slot().load(); }

private:
    static std::atomic<T*>& Slot() noexcept
    {
        static std::atomic<T*> slot{nullptr};
        return slot;
    }

    T* m_previous;
};

} // namespace ovled::platform
