// BoardState: everything the virtual board knows, as one plain fixed-layout block. It lives on the heap
// for the in-process board and in a named shared-memory block on Windows, where the automation server,
// the port-I/O library, the control command and the tests all see the same board. No pointers, fixed
// widths only. Whoever touches it holds the store's lock (BoardModel does that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace ovled::sim {

inline constexpr std::uint32_t kBoardMagic = 0x4256564F; // "OVVB"
inline constexpr std::uint32_t kBoardVersion = 3;
inline constexpr std::size_t kMaxItems = 40;
inline constexpr std::size_t kMaxStrips = 8;
inline constexpr std::size_t kNameBytes = 32;
inline constexpr std::size_t kMaxOptionStrings = 4;
inline constexpr std::size_t kOptionStringBytes = 16;
// A watcher that reads the trace every 100 ms must not lose entries when every device is driven at
// the full 100 colours per second (about 1200 entries a second with the onboard zone's registers and
// three strips): 8192 entries last some seven seconds, room for a watcher that falls behind.
inline constexpr std::size_t kTraceCapacity = 8192;
inline constexpr std::size_t kEcBanks = 4;
inline constexpr std::size_t kEcRegistersPerBank = 256;

enum class Profile : std::uint32_t {
    SwitchAndStrips = 0, // switch item (EC colour path) and three strips
    NoSwitch = 1,        // no switch item: the onboard colour goes through items; two strips
    NoStrips = 2,        // switch item, no strip items
    NoSensor = 3,        // as SwitchAndStrips, but group 6 has no CPU temperature
    Empty = 4,           // no items at all
};
inline constexpr std::uint32_t kProfileCount = 5;

// The automation server's methods, in the order of their dispatch ids (1-based there).
enum class Method : std::uint32_t { Init, GetItem, GetItemEx, SetItem, SetItemBuffer, Mbif, GGrp, CallMethod };
inline constexpr std::uint32_t kMethodCount = 8;

// Ways a reply can be malformed on purpose.
enum class Malformation : std::uint32_t {
    None = 0,
    HugeCount = 1,      // the element count claims millions of elements
    LengthPastEnd = 2,  // the last element's data length runs far past the reply
    Truncated = 3,      // the reply stops in the middle of an element
    Empty = 4,          // a reply of zero bytes
    Oversized = 5,      // a reply longer than the caller's buffer
    TooFewElements = 6, // an element count below 3
};
inline constexpr std::uint32_t kMalformationCount = 7;

struct ItemRecord {
    std::uint32_t id;
    std::uint32_t selector; // what the group list hands out for this item
    std::uint32_t value;    // the live value (strip items and the CPU temperature keep theirs elsewhere)
    std::uint32_t baseWord;
    std::uint32_t stepWord;
    std::uint32_t optionCount;
    std::uint32_t present;     // 0: hidden, as if the firmware did not have it
    std::uint32_t stringCount; // option strings (string items) or extra strings (number items)
    char name[kNameBytes];
    char strings[kMaxOptionStrings][kOptionStringBytes];
};

struct StripRecord {
    std::uint32_t hostControl;
    std::uint32_t effect;
    std::uint32_t color;
    std::uint8_t wiring[4]; // channel (0 red, 1 blue, 2 green) fed by byte position 0..2
};

enum class TraceKind : std::uint32_t { ItemWrite = 1, EcWrite = 2 };

struct TraceEntry {
    std::uint64_t micros;  // steady clock, microseconds
    std::uint32_t kind;    // TraceKind
    std::uint32_t target;  // item id, or bank << 8 | controller address
    std::uint32_t value;
    std::uint32_t detail;  // item writes: flags | selected strip << 8
};

struct Faults {
    std::uint32_t failingMethods; // bit (1 << Method): the invocation fails
    std::uint32_t slowMillis;     // every automation call takes this long
    std::uint32_t ecStaysBusy;    // status always busy; bytes written meanwhile are lost
    std::uint32_t ecBusyReads;    // the next N status reads report the input buffer full
    std::uint32_t descriptionMalformation; // Malformation
    std::uint32_t descriptionTarget;       // registry key of the item, 0: every item
    std::uint32_t groupMalformation;       // Malformation
    std::uint32_t groupTarget;             // group number, 0xFFFFFFFF: every group
    std::uint32_t serverMissing;           // in process: every call fails as if nothing were registered
    std::uint32_t answersZero;             // COM server: methods answer 0 although the invocation succeeds
    std::uint32_t portIoFails;             // the port-I/O library: open answers 0, reads 0xFF, writes are lost
    std::uint32_t hangs;                   // every automation call waits until this fault is cleared
};

enum class Device : std::uint32_t { Onboard = 0, FirstStrip = 1 };

struct Counters {
    std::uint32_t calls[kMethodCount];
    std::uint32_t failedCalls;
    std::uint32_t deviceWrites[1 + kMaxStrips]; // onboard (items and colour registers), then each strip
    std::uint32_t itemWrites;
    std::uint32_t ecWrites; // controller writes, bank selects included
    std::uint32_t ecReads;
    std::uint32_t portWrites;
    std::uint32_t portReads;
};

// The last automation call as the server saw it (argument kinds are filled by the COM server only).
struct CallRecord {
    std::uint32_t sequence;
    std::uint32_t method; // Method
    std::uint32_t argumentCount;
    std::uint16_t argumentTypes[4];
    std::uint32_t scalars[2];
    std::uint32_t bytesSent;
    std::uint32_t firstByteSent;
};

struct EcRecord {
    std::uint8_t registers[kEcBanks][kEcRegistersPerBank];
    std::uint8_t bank;
    std::uint8_t phase; // EcPhase
    std::uint8_t address;
    std::uint8_t output;
    std::uint8_t outputFull;
    std::uint8_t reserved[3];
};

// The automation server's instances as its clients hold them. Kept across a reset of the board: the
// instances outlive it.
struct ServerRecord {
    std::uint32_t instancesCreated;
    std::int32_t instancesAlive;
    std::uint32_t nameLookups; // GetIDsOfNames calls
    std::uint32_t reserved;
};

struct BoardState {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t size;
    std::uint32_t profile;
    std::uint32_t temperatureTenths;
    std::uint32_t itemCount;
    ItemRecord items[kMaxItems];
    std::uint32_t stripCount;
    std::uint32_t selectedStrip;
    StripRecord strips[kMaxStrips];
    EcRecord ec;
    Faults faults;
    Counters counters;
    CallRecord lastCall;
    std::uint32_t reserved;
    std::uint64_t traceTotal;
    TraceEntry trace[kTraceCapacity];
    ServerRecord server;
};

static_assert(std::is_trivially_copyable_v<BoardState>);
static_assert(sizeof(TraceEntry) == 24 && alignof(TraceEntry) == 8, "same layout in 32- and 64-bit processes");
static_assert(offsetof(BoardState, traceTotal) % 8 == 0);

} // namespace ovled::sim
