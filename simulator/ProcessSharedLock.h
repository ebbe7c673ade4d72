// ProcessSharedLock: a lock kept in a 32-bit word of memory that several processes map (the virtual
// board's shared block). The word holds the id of the process that holds the lock, 0 when it is free.
// Any thread of any process that maps the word may take it; the owner of the memory owns the word.
#pragma once

#include <atomic>
#include <cstdint>

namespace ovled::sim {

// What the lock asks of the platform. Called by the waiting thread only, outside the lock.
class ILockHost {
public:
    virtual ~ILockHost() = default;
    // This process's id; never 0.
    virtual std::uint32_t Self() noexcept = 0;
    // False only when the process `owner` has surely ended (true when it cannot be told).
    virtual bool Alive(std::uint32_t owner) noexcept = 0;
    // Hands the processor to another ready thread.
    virtual void LetOthersRun() noexcept = 0;
    // Sleeps about a millisecond.
    virtual void Nap() noexcept = 0;
};

// Sections under this lock are a few hundred instructions and never block, so a waiter spins briefly,
// then yields, then naps (a holder that lost its processor on a busy machine may need a while). Every
// so often a napping waiter asks whether the holder's process still runs; a holder that died
// mid-section has its lock taken over, and the data it guarded may be half-changed. Not recursive.
class ProcessSharedLock {
public:
    // `word` must be 4-byte aligned and outlive the lock.
    ProcessSharedLock(std::uint32_t& word, ILockHost& host) noexcept : m_word(word), m_host(host) {}

    void lock() noexcept;
    bool try_lock() noexcept;
    void unlock() noexcept;

    inline static constexpr unsigned kSpins = 64;
    inline static constexpr unsigned kYields = 16;
    // Naps between two questions about the holder's process.
    inline static constexpr unsigned kNapsPerLivenessCheck = 64;

private:
    std::atomic_ref<std::uint32_t> m_word;
    ILockHost& m_host;
};

} // namespace ovled::sim
