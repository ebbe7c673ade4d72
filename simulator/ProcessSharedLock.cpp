#include "simulator/ProcessSharedLock.h"

namespace ovled::sim {
namespace {

inline void CpuRelax() noexcept
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace

bool ProcessSharedLock::try_lock() noexcept
{
    std::uint32_t expected = 0;
    return m_word.compare_exchange_strong(expected, m_host.Self(), std::memory_order_acquire,
                                          std::memory_order_relaxed);
}

void ProcessSharedLock::lock() noexcept
{
    const std::uint32_t self = m_host.Self();
    for (unsigned round = 0;; ++round) {
        std::uint32_t holder = m_word.load(std::memory_order_relaxed);
        if (holder == 0 &&
            m_word.compare_exchange_weak(holder, self, std::memory_order_acquire, std::memory_order_relaxed))
            return;
        if (round < kSpins) {
            CpuRelax();
            continue;
        }
        if (round < kSpins + kYields) {
            m_host.LetOthersRun();
            continue;
        }
        const unsigned naps = round - kSpins - kYields;
        // Only another process can have died holding it; this one is running.
        if (holder != 0 && holder != self && naps % kNapsPerLivenessCheck == kNapsPerLivenessCheck - 1 &&
            !m_host.Alive(holder) &&
            m_word.compare_exchange_strong(holder, self, std::memory_order_acquire, std::memory_order_relaxed))
            return;
        m_host.Nap();
    }
}

void ProcessSharedLock::unlock() noexcept
{
    m_word.store(0, std::memory_order_release);
}

} // namespace ovled::sim
