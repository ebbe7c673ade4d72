// BoardModel: the behaviour of the virtual board over a BoardState held by a store: the firmware
// items and their groups, the strip selection, the automation server's eight methods as a real board's
// server would answer them, the embedded controller behind ports 0x66/0x62, what the LEDs show, the
// write trace, the counters and the faults. Thread-safe and process-safe through the store's lock;
// used in process by VirtualBoard and out of process by the Windows server, port-I/O library and
// control command.
#pragma once

#include "platform/Clock.h"
#include "simulator/BoardState.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace ovled::sim {

// Where a BoardState lives and the lock that guards it (a std::mutex in process, a named mutex on
// Windows). BasicLockable, so std::lock_guard takes it.
class IBoardStore {
public:
    virtual ~IBoardStore() = default;
    virtual BoardState& State() noexcept = 0;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

// What one LED device shows.
struct LedView {
    bool present = false;     // the board has this device
    bool on = false;          // switched on (onboard only; strips have no switch of their own)
    bool hostControl = false; // the service's colour, not the firmware's stored effect
    std::uint8_t effectCode = 0;
    std::uint8_t red = 0, green = 0, blue = 0; // what is lit (0 when off)
};

// The clock of the trace's time stamps: the steady clock, in microseconds.
std::uint64_t BoardClockMicros() noexcept;

const char* ProfileName(Profile profile) noexcept;
bool ParseProfile(const std::string& name, Profile& out);
const char* MethodName(Method method) noexcept; // the automation name, "iAcpiGetItem" ...
const char* MalformationName(Malformation how) noexcept;
bool ParseMalformation(const std::string& name, Malformation& out);

class BoardModel {
public:
    // `clock` provides the slow-server delay (tests count it instead of waiting).
    explicit BoardModel(IBoardStore& store, platform::IWaitClock& clock = platform::SystemClock()) noexcept
        : m_store(store), m_clock(clock)
    {
    }

    // Runs `f(BoardState&)` under the store's lock and returns what it returns.
    template <class F>
    auto With(F&& f)
    {
        std::lock_guard lock(m_store);
        return f(m_store.State());
    }

    // A fresh board of that profile: items, strips, registers; faults, counters and trace cleared.
    void Reset(Profile profile);
    // True when the store holds a board of this layout (a shared block may be from another build).
    bool IsValid();
    // Resets to `profile` unless the store already holds a valid board (one check under one lock, so
    // that two processes opening a fresh shared block at once reset it only once).
    void EnsureValid(Profile profile);

    // The automation server's methods. False: the invocation fails (unknown item or selector, or an
    // injected failure). Each counts as a call, waits the slow-server delay and records itself.
    bool Init();
    bool GetItem(std::uint32_t id, std::uint32_t& value);
    // The parameter names the strip for the strip items (a read without selecting); others ignore it.
    bool GetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t& value);
    bool SetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags);
    // Echoes the bytes back for a known item.
    bool SetItemBuffer(std::uint32_t id, std::span<const std::uint8_t> sent, std::vector<std::uint8_t>& reply);
    // The board's identification block.
    bool Mbif(std::span<const std::uint8_t> sent, std::vector<std::uint8_t>& reply);
    bool GroupList(std::uint32_t group, std::span<const std::uint8_t> sent, std::vector<std::uint8_t>& reply);
    bool Describe(std::uint32_t selector, std::span<const std::uint8_t> sent, std::vector<std::uint8_t>& reply);
    // The COM server notes the kinds of the arguments it received (VARTYPEs, in natural order) just
    // before it calls one of the methods above on the same thread; LastCall() then shows them.
    static void NoteArgumentKinds(std::span<const std::uint16_t> kinds) noexcept;
    // In process only: the server behaves as if it were not registered at all.
    bool ServerMissing();

    // The embedded controller behind the two I/O ports.
    void OutPortB(std::uint16_t port, std::uint8_t value);
    std::uint8_t InPortB(std::uint16_t port);

    // Control.
    void SetTemperatureTenths(std::uint32_t tenths);
    void SetFaults(const Faults& faults);
    Faults GetFaults();
    void ClearFaults();
    // False for a strip the board does not have.
    bool SetWiring(std::uint32_t strip, const std::uint8_t (&wiring)[3]);
    // Gives the board `count` strips (the profile's strip items act on them); false above kMaxStrips.
    // A selection beyond the new count falls back to strip 0.
    bool SetStripCount(std::uint32_t count);
    // Hides an item (as if the firmware lacked it) or shows it again; false for an unknown id.
    bool SetItemPresent(std::uint32_t id, bool present);
    void ClearTrace();

    // Inspection.
    LedView Onboard();
    LedView Strip(std::uint32_t strip);
    std::uint32_t StripCount();
    std::uint8_t EcRegister(std::uint32_t bank, std::uint32_t address);
    // The newest `limit` entries, oldest first.
    std::vector<TraceEntry> Trace(std::size_t limit = kTraceCapacity);
    // The entries written since `seen` (a running total of entries, 0 at first), oldest first, as far
    // as the ring still holds them; advances `seen`.
    std::vector<TraceEntry> TraceSince(std::uint64_t& seen);
    Counters GetCounters();
    // The automation server counts its instances (+1 made, -1 gone) and its name lookups here; a new
    // server process starts the live count afresh.
    void CountServerInstance(int change, bool newServer = false);
    void CountNameLookup();
    ServerRecord GetServerRecord();
    CallRecord LastCall();

private:
    // Counts the call, records it and tells whether it may go on (not failing on purpose).
    bool BeginCall(BoardState& state, Method method, std::uint32_t scalar0, std::uint32_t scalar1,
                   std::span<const std::uint8_t> sent);
    void SlowDown();

    IBoardStore& m_store;
    platform::IWaitClock& m_clock;
};

// A BoardState on the heap with a std::mutex: the store of the in-process board.
class LocalBoardStore final : public IBoardStore {
public:
    LocalBoardStore();
    BoardState& State() noexcept override { return *m_state; }
    void lock() override { m_mutex.lock(); }
    void unlock() override { m_mutex.unlock(); }

private:
    std::mutex m_mutex;
    std::unique_ptr<BoardState> m_state;
};

} // namespace ovled::sim
