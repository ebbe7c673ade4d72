#include "simulator/BoardModel.h"

#include "hardware/EcPort.h"
#include "hardware/ItemIds.h"
#include "simulator/ElementWriter.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace ovled::sim {

std::uint64_t BoardClockMicros() noexcept
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

namespace {

constexpr std::uint32_t kSelectorBase = 0x5E1E0000;
constexpr std::uint32_t kCpuTemperatureId = 0x06030003;
constexpr std::uint32_t kDefaultTemperatureTenths = 450;

enum EcPhase : std::uint8_t { kIdle, kWriteAddress, kWriteData, kReadAddress };

constexpr const char* kProfileNames[kProfileCount] = {"switch-strips", "no-switch", "no-strips", "no-sensor",
                                                      "empty"};
constexpr const char* kMethodNames[kMethodCount] = {"iAcpiInit",         "iAcpiGetItem", "iAcpiGetItemEx",
                                                    "iAcpiSetItem",      "iAcpiSetItemBuffer", "iAcpiMbif",
                                                    "iAcpiGGrp",         "iAcpiCallMethod"};
constexpr const char* kMalformationNames[kMalformationCount] = {
    "none", "huge-count", "length-past-end", "truncated", "empty", "oversized", "too-few-elements"};

void CopyText(char* target, std::size_t capacity, const char* text)
{
    std::memset(target, 0, capacity);
    std::strncpy(target, text, capacity - 1);
}

struct ItemTemplate {
    std::uint32_t id;
    const char* name;
    std::uint32_t value;
    std::uint32_t baseWord = 0;
    std::uint32_t stepWord = 1;
    std::uint32_t optionCount = 0;
    std::vector<const char*> strings = {};
};

void AddItem(BoardState& state, const ItemTemplate& blueprint)
{
    if (state.itemCount >= kMaxItems)
        return;
    const std::uint32_t slot = state.itemCount++;
    ItemRecord& item = state.items[slot];
    item = ItemRecord{};
    item.id = blueprint.id;
    item.selector = kSelectorBase | slot;
    item.value = blueprint.value;
    item.baseWord = blueprint.baseWord;
    item.stepWord = blueprint.stepWord;
    item.optionCount = blueprint.optionCount;
    item.present = 1;
    CopyText(item.name, kNameBytes, blueprint.name);
    item.stringCount = static_cast<std::uint32_t>(std::min(blueprint.strings.size(), kMaxOptionStrings));
    for (std::uint32_t i = 0; i < item.stringCount; ++i)
        CopyText(item.strings[i], kOptionStringBytes, blueprint.strings[i]);
}

void AddLedItems(BoardState& state, Profile profile)
{
    const bool withSwitch = profile != Profile::NoSwitch;
    const bool withStrips = profile != Profile::NoStrips;
    if (withSwitch)
        AddItem(state, {items::kOnboardSwitch, "Onboard LED", 1, 0, 1, 2});
    AddItem(state, {items::kOnboardHostControl, "Onboard LED Host Control", 0, 0, 1, 2});
    AddItem(state, {items::kOnboardEffect, "Onboard LED Effect", 0x0000FF02, 0, 1, 0});
    if (!withSwitch)
        AddItem(state, {items::kOnboardColor, "Onboard LED Colour", 0, 0, 1, 0});
    // A number item with extra strings ("Auto" is option 0, then 0.00 .. 1.00 in steps of 0.05).
    AddItem(state, {0x13010050, "LED Brightness", 0, 0x00000000, 0x00000005, 21, {"Auto"}});
    if (withStrips) {
        state.stripCount = profile == Profile::NoSwitch ? 2 : 3;
        AddItem(state, {items::kStripSelector, "LED Header Select", 0, 0, 1, 8});
        AddItem(state, {items::kStripHostControl, "LED Header Host Control", 0, 0, 1, 2});
        AddItem(state, {items::kStripEffect, "LED Header Effect", 0, 0, 1, 0});
        AddItem(state, {items::kStripColor, "LED Header Colour", 0, 0, 1, 0});
    }
    AddItem(state, {items::kAuxLed, "Aux LED", 0, 0, 0, 0, {"Off", "On"}});
}

void AddSensorItems(BoardState& state, Profile profile)
{
    // The order matters to the search: a temperature that is not the CPU's comes first, then a CPU
    // item of another kind, then the CPU temperature.
    AddItem(state, {0x06030001, "System Temperature", 310, 0, 1, 1000});
    AddItem(state, {0x06010002, "CPU Voltage", 120, 0, 1, 200});
    if (profile != Profile::NoSensor)
        AddItem(state, {kCpuTemperatureId, "CPU Temperature", 0, 0, 1, 1000});
    AddItem(state, {0x06000004, "CPU Fan Speed", 1200, 0, 0x00000064, 50});
    AddItem(state, {0x06020005, "+12V", 12000, 0x00002710, 0x0000000A, 400});
    AddItem(state, {0x060C0006, "VCore", 1200, 0xFD0001F4, 0xFF000005, 300});
    AddItem(state, {0x06080007, "Fan Mode", 1, 0, 0, 0, {"Silent", "Standard", "Turbo"}});
    AddItem(state, {0x06070008, "Fan Fail Alarm", 1});
    AddItem(state, {0x060D0009, "Fan Curve", 0, 0, 1, 4, {"Default"}});
}

ItemRecord* FindItem(BoardState& state, std::uint32_t id)
{
    for (std::uint32_t i = 0; i < state.itemCount && i < kMaxItems; ++i) {
        ItemRecord& item = state.items[i];
        if (item.present && items::RegistryKey(item.id) == items::RegistryKey(id))
            return &item;
    }
    return nullptr;
}

bool IsStripItem(std::uint32_t id)
{
    const std::uint32_t key = items::RegistryKey(id);
    return key == items::RegistryKey(items::kStripHostControl) || key == items::RegistryKey(items::kStripEffect) ||
           key == items::RegistryKey(items::kStripColor);
}

std::uint32_t* StripField(StripRecord& strip, std::uint32_t id)
{
    switch (items::RegistryKey(id)) {
    case items::RegistryKey(items::kStripHostControl):
        return &strip.hostControl;
    case items::RegistryKey(items::kStripEffect):
        return &strip.effect;
    default:
        return &strip.color;
    }
}

// The value the firmware reports for an item; `strip` names the strip for the strip items.
std::uint32_t LiveValue(BoardState& state, const ItemRecord& item, std::uint32_t strip)
{
    const std::uint32_t key = items::RegistryKey(item.id);
    if (key == items::RegistryKey(kCpuTemperatureId))
        return state.temperatureTenths;
    if (key == items::RegistryKey(items::kStripSelector))
        return (state.stripCount & 0xFF) << 8 | (state.selectedStrip & 0xFF);
    if (IsStripItem(item.id))
        return strip < state.stripCount ? *StripField(state.strips[strip], item.id) : 0;
    return item.value;
}

void AddTrace(BoardState& state, TraceKind kind, std::uint32_t target, std::uint32_t value, std::uint32_t detail)
{
    TraceEntry& entry = state.trace[state.traceTotal % kTraceCapacity];
    entry = TraceEntry{BoardClockMicros(), static_cast<std::uint32_t>(kind), target, value, detail};
    ++state.traceTotal;
}

void CountDeviceWrite(BoardState& state, std::uint32_t device)
{
    if (device <= kMaxStrips)
        ++state.counters.deviceWrites[device];
}

// The effect value's colour: bits 8-15 red, 16-23 green, 24-31 blue.
void OnboardEffectColour(std::uint32_t effect, LedView& view)
{
    view.effectCode = static_cast<std::uint8_t>(effect);
    view.red = static_cast<std::uint8_t>(effect >> 8);
    view.green = static_cast<std::uint8_t>(effect >> 16);
    view.blue = static_cast<std::uint8_t>(effect >> 24);
}

void SetChannel(LedView& view, std::uint8_t channel, std::uint8_t value)
{
    switch (channel) {
    case 0:
        view.red = value;
        break;
    case 1:
        view.blue = value;
        break;
    case 2:
        view.green = value;
        break;
    default: // a wiring position that feeds no channel
        break;
    }
}

std::uint8_t EcLoad(BoardState& state, std::uint8_t address)
{
    ++state.counters.ecReads;
    if (address == ec::kBankRegister)
        return state.ec.bank;
    return state.ec.bank < kEcBanks ? state.ec.registers[state.ec.bank][address] : 0xFF;
}

void EcStore(BoardState& state, std::uint8_t address, std::uint8_t value)
{
    ++state.counters.ecWrites;
    AddTrace(state, TraceKind::EcWrite, static_cast<std::uint32_t>(state.ec.bank) << 8 | address, value, 0);
    if (address == ec::kBankRegister) {
        state.ec.bank = value;
        return;
    }
    if (state.ec.bank >= kEcBanks)
        return;
    state.ec.registers[state.ec.bank][address] = value;
    if (state.ec.bank == ec::kColourBank && address >= ec::kRedRegister && address <= ec::kGreenRegister)
        CountDeviceWrite(state, static_cast<std::uint32_t>(Device::Onboard));
}

// The argument kinds of the call this thread is about to make (set by the COM server only).
thread_local std::span<const std::uint16_t> t_argumentKinds;

} // namespace

void BoardModel::NoteArgumentKinds(std::span<const std::uint16_t> kinds) noexcept
{
    t_argumentKinds = kinds;
}

namespace {

template <std::size_t N>
const char* NameAt(const char* const (&names)[N], std::uint32_t index) noexcept
{
    return index < N ? names[index] : "unknown";
}

template <class Enum, std::size_t N>
bool ParseName(const char* const (&names)[N], const std::string& name, Enum& out)
{
    for (std::uint32_t i = 0; i < N; ++i) {
        if (name == names[i]) {
            out = static_cast<Enum>(i);
            return true;
        }
    }
    return false;
}

} // namespace

const char* ProfileName(Profile profile) noexcept
{
    return NameAt(kProfileNames, static_cast<std::uint32_t>(profile));
}

bool ParseProfile(const std::string& name, Profile& out)
{
    return ParseName(kProfileNames, name, out);
}

const char* MethodName(Method method) noexcept
{
    return NameAt(kMethodNames, static_cast<std::uint32_t>(method));
}

const char* MalformationName(Malformation how) noexcept
{
    return NameAt(kMalformationNames, static_cast<std::uint32_t>(how));
}

bool ParseMalformation(const std::string& name, Malformation& out)
{
    return ParseName(kMalformationNames, name, out);
}

LocalBoardStore::LocalBoardStore() : m_state(std::make_unique<BoardState>()) {}

namespace {

bool HoldsBoard(const BoardState& state)
{
    return state.magic == kBoardMagic && state.version == kBoardVersion && state.size == sizeof(BoardState);
}

void ResetState(BoardState& state, Profile profile)
{
    const ServerRecord server = HoldsBoard(state) ? state.server : ServerRecord{};
    std::memset(&state, 0, sizeof state);
    state.server = server;
    state.magic = kBoardMagic;
    state.version = kBoardVersion;
    state.size = sizeof(BoardState);
    state.profile = static_cast<std::uint32_t>(profile);
    state.temperatureTenths = kDefaultTemperatureTenths;
    state.faults.groupTarget = 0xFFFFFFFF;
    for (StripRecord& strip : state.strips) {
        strip.effect = 0xFFFFFF01; // white, the firmware's own default
        strip.wiring[0] = 0;
        strip.wiring[1] = 1;
        strip.wiring[2] = 2;
    }
    if (profile != Profile::Empty) {
        AddLedItems(state, profile);
        AddSensorItems(state, profile);
    }
}

} // namespace

void BoardModel::Reset(Profile profile)
{
    With([profile](BoardState& state) { ResetState(state, profile); });
}

bool BoardModel::IsValid()
{
    return With([](BoardState& state) { return HoldsBoard(state); });
}

void BoardModel::EnsureValid(Profile profile)
{
    With([profile](BoardState& state) {
        if (!HoldsBoard(state))
            ResetState(state, profile);
    });
}

bool BoardModel::BeginCall(BoardState& state, Method method, std::uint32_t scalar0, std::uint32_t scalar1,
                           std::span<const std::uint8_t> sent)
{
    const auto index = static_cast<std::uint32_t>(method);
    ++state.counters.calls[index];
    CallRecord& call = state.lastCall;
    const std::uint32_t sequence = call.sequence + 1;
    call = CallRecord{};
    call.sequence = sequence;
    call.method = index;
    call.argumentCount = static_cast<std::uint32_t>(t_argumentKinds.size());
    for (std::size_t i = 0; i < t_argumentKinds.size() && i < 4; ++i)
        call.argumentTypes[i] = t_argumentKinds[i];
    t_argumentKinds = {};
    call.scalars[0] = scalar0;
    call.scalars[1] = scalar1;
    call.bytesSent = static_cast<std::uint32_t>(sent.size());
    call.firstByteSent = sent.empty() ? 0 : sent[0];
    if (state.faults.failingMethods & (1u << index)) {
        ++state.counters.failedCalls;
        return false;
    }
    return true;
}

void BoardModel::SlowDown()
{
    const std::uint32_t millis = With([](BoardState& state) { return state.faults.slowMillis; });
    if (millis > 0)
        m_clock.Sleep(std::chrono::milliseconds(millis));
    // A server that hangs: the call comes back only once the fault is cleared (outside the board's lock,
    // so the control command can clear it).
    while (With([](BoardState& state) { return state.faults.hangs != 0; }))
        m_clock.Sleep(std::chrono::milliseconds(10));
}

bool BoardModel::ServerMissing()
{
    return With([](BoardState& state) { return state.faults.serverMissing != 0; });
}

bool BoardModel::Init()
{
    SlowDown();
    return With([&](BoardState& state) { return BeginCall(state, Method::Init, 0, 0, {}); });
}

bool BoardModel::GetItem(std::uint32_t id, std::uint32_t& value)
{
    SlowDown();
    return With([&](BoardState& state) {
        if (!BeginCall(state, Method::GetItem, id, 0, {}))
            return false;
        const ItemRecord* item = FindItem(state, id);
        if (!item)
            return false;
        value = LiveValue(state, *item, state.selectedStrip);
        return true;
    });
}

bool BoardModel::GetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t& value)
{
    SlowDown();
    return With([&](BoardState& state) {
        if (!BeginCall(state, Method::GetItemEx, id, parameter, {}))
            return false;
        const ItemRecord* item = FindItem(state, id);
        if (!item)
            return false;
        value = LiveValue(state, *item, IsStripItem(id) ? parameter : state.selectedStrip);
        return true;
    });
}

bool BoardModel::SetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags)
{
    SlowDown();
    return With([&](BoardState& state) {
        if (!BeginCall(state, Method::SetItem, id, value, {}))
            return false;
        ItemRecord* item = FindItem(state, id);
        if (!item)
            return false;
        const std::uint32_t key = items::RegistryKey(id);
        std::uint32_t device = static_cast<std::uint32_t>(Device::Onboard);
        if (key == items::RegistryKey(items::kStripSelector)) {
            if (value >= state.stripCount)
                return false;
            state.selectedStrip = value;
            device = static_cast<std::uint32_t>(Device::FirstStrip) + value;
        } else if (IsStripItem(id)) {
            if (state.selectedStrip >= state.stripCount)
                return false;
            *StripField(state.strips[state.selectedStrip], id) = value;
            device = static_cast<std::uint32_t>(Device::FirstStrip) + state.selectedStrip;
        } else if (key == items::RegistryKey(kCpuTemperatureId)) {
            state.temperatureTenths = value;
        } else {
            item->value = value;
        }
        ++state.counters.itemWrites;
        if (items::GroupOf(id) == items::kLedGroup)
            CountDeviceWrite(state, device);
        AddTrace(state, TraceKind::ItemWrite, id, value, (flags & 0xFF) | (state.selectedStrip & 0xFF) << 8);
        return true;
    });
}

bool BoardModel::SetItemBuffer(std::uint32_t id, std::span<const std::uint8_t> sent, std::vector<std::uint8_t>& reply)
{
    SlowDown();
    return With([&](BoardState& state) {
        if (!BeginCall(state, Method::SetItemBuffer, id, 0, sent) || !FindItem(state, id))
            return false;
        reply.assign(sent.begin(), sent.end());
        return true;
    });
}

bool BoardModel::Mbif(std::span<const std::uint8_t> sent, std::vector<std::uint8_t>& reply)
{
    SlowDown();
    return With([&](BoardState& state) {
        if (!BeginCall(state, Method::Mbif, 0, 0, sent))
            return false;
        static constexpr char kIdentity[] = "OVLED VIRTUAL BOARD";
        reply.assign(kIdentity, kIdentity + sizeof kIdentity);
        reply.push_back(static_cast<std::uint8_t>(state.profile));
        return true;
    });
}

bool BoardModel::GroupList(std::uint32_t group, std::span<const std::uint8_t> sent, std::vector<std::uint8_t>& reply)
{
    SlowDown();
    return With([&](BoardState& state) {
        if (!BeginCall(state, Method::GGrp, group, 0, sent))
            return false;
        std::vector<std::uint32_t> selectors;
        std::vector<std::uint32_t> ids;
        for (std::uint32_t i = 0; i < state.itemCount && i < kMaxItems; ++i) {
            const ItemRecord& item = state.items[i];
            if (item.present && items::GroupOf(item.id) == group) {
                selectors.push_back(item.selector);
                ids.push_back(item.id);
            }
        }
        // The header goes back as it came (byte 0 is the request marker).
        std::uint32_t header = 0;
        for (std::size_t i = 0; i < 4 && i < sent.size(); ++i)
            header |= static_cast<std::uint32_t>(sent[i]) << (8 * i);
        reply = EncodeGroupList(header, selectors, ids);
        if (state.faults.groupTarget == 0xFFFFFFFF || state.faults.groupTarget == group)
            Malform(reply, static_cast<Malformation>(state.faults.groupMalformation));
        return true;
    });
}

bool BoardModel::Describe(std::uint32_t selector, std::span<const std::uint8_t> sent, std::vector<std::uint8_t>& reply)
{
    SlowDown();
    return With([&](BoardState& state) {
        if (!BeginCall(state, Method::CallMethod, selector, 0, sent))
            return false;
        for (std::uint32_t i = 0; i < state.itemCount && i < kMaxItems; ++i) {
            ItemRecord& item = state.items[i];
            if (!item.present || item.selector != selector)
                continue;
            reply = EncodeDescription(item, LiveValue(state, item, state.selectedStrip));
            const std::uint32_t target = state.faults.descriptionTarget;
            if (target == 0 || target == items::RegistryKey(item.id))
                Malform(reply, static_cast<Malformation>(state.faults.descriptionMalformation));
            return true;
        }
        return false;
    });
}

void BoardModel::OutPortB(std::uint16_t port, std::uint8_t value)
{
    With([&](BoardState& state) {
        ++state.counters.portWrites;
        EcRecord& ec = state.ec;
        if (state.faults.ecStaysBusy || state.faults.portIoFails)
            return; // a controller that never takes its input (or a port that is not reached) loses it
        if (port == ec::kStatusPort) {
            ec.phase = value == ec::kWriteCommand ? kWriteAddress : value == ec::kReadCommand ? kReadAddress : kIdle;
            return;
        }
        if (port != ec::kDataPort)
            return;
        switch (ec.phase) {
        case kWriteAddress:
            ec.address = value;
            ec.phase = kWriteData;
            break;
        case kWriteData:
            EcStore(state, ec.address, value);
            ec.phase = kIdle;
            break;
        case kReadAddress:
            ec.output = EcLoad(state, value);
            ec.outputFull = 1;
            ec.phase = kIdle;
            break;
        default:
            break;
        }
    });
}

std::uint8_t BoardModel::InPortB(std::uint16_t port)
{
    return With([&](BoardState& state) -> std::uint8_t {
        ++state.counters.portReads;
        if (state.faults.portIoFails)
            return 0xFF; // what a read of a port that nothing answers gives
        EcRecord& ec = state.ec;
        if (port == ec::kStatusPort) {
            std::uint8_t status = ec.outputFull ? ec::kOutputBufferFull : 0;
            if (state.faults.ecStaysBusy) {
                status |= ec::kBusyMask;
            } else if (state.faults.ecBusyReads > 0) {
                --state.faults.ecBusyReads;
                status |= ec::kInputBufferFull;
            }
            return status;
        }
        if (port == ec::kDataPort) {
            ec.outputFull = 0;
            return ec.output;
        }
        return 0xFF;
    });
}

void BoardModel::SetTemperatureTenths(std::uint32_t tenths)
{
    With([tenths](BoardState& state) { state.temperatureTenths = tenths; });
}

void BoardModel::SetFaults(const Faults& faults)
{
    With([&faults](BoardState& state) { state.faults = faults; });
}

Faults BoardModel::GetFaults()
{
    return With([](BoardState& state) { return state.faults; });
}

void BoardModel::ClearFaults()
{
    With([](BoardState& state) {
        state.faults = Faults{};
        state.faults.groupTarget = 0xFFFFFFFF;
    });
}

bool BoardModel::SetWiring(std::uint32_t strip, const std::uint8_t (&wiring)[3])
{
    return With([&](BoardState& state) {
        if (strip >= state.stripCount)
            return false;
        std::copy(wiring, wiring + 3, state.strips[strip].wiring);
        return true;
    });
}

bool BoardModel::SetStripCount(std::uint32_t count)
{
    return With([count](BoardState& state) {
        if (count > kMaxStrips)
            return false;
        state.stripCount = count;
        if (state.selectedStrip >= count)
            state.selectedStrip = 0;
        return true;
    });
}

bool BoardModel::SetItemPresent(std::uint32_t id, bool present)
{
    return With([&](BoardState& state) {
        for (std::uint32_t i = 0; i < state.itemCount && i < kMaxItems; ++i) {
            if (items::RegistryKey(state.items[i].id) == items::RegistryKey(id)) {
                state.items[i].present = present ? 1 : 0;
                return true;
            }
        }
        return false;
    });
}

void BoardModel::ClearTrace()
{
    With([](BoardState& state) {
        state.traceTotal = 0;
        state.counters = Counters{};
    });
}

LedView BoardModel::Onboard()
{
    return With([](BoardState& state) {
        LedView view;
        const ItemRecord* switchItem = FindItem(state, items::kOnboardSwitch);
        const ItemRecord* effect = FindItem(state, items::kOnboardEffect);
        const ItemRecord* host = FindItem(state, items::kOnboardHostControl);
        if (!switchItem && !effect)
            return view;
        view.present = true;
        const std::uint32_t effectValue = effect ? effect->value : 0;
        view.hostControl = host && host->value == 1;
        view.on = switchItem ? switchItem->value == 1 : effectValue != 0;
        OnboardEffectColour(effectValue, view);
        if (view.hostControl) {
            if (switchItem) {
                const auto& bank = state.ec.registers[ec::kColourBank];
                view.red = bank[ec::kRedRegister];
                view.blue = bank[ec::kBlueRegister];
                view.green = bank[ec::kGreenRegister];
            } else {
                const ItemRecord* colour = FindItem(state, items::kOnboardColor);
                const std::uint32_t c = colour ? colour->value : 0;
                view.red = static_cast<std::uint8_t>(c >> 8);
                view.green = static_cast<std::uint8_t>(c >> 16);
                view.blue = static_cast<std::uint8_t>(c >> 24);
            }
        }
        if (!view.on)
            view.red = view.green = view.blue = 0;
        return view;
    });
}

LedView BoardModel::Strip(std::uint32_t strip)
{
    return With([strip](BoardState& state) {
        LedView view;
        if (strip >= state.stripCount || strip >= kMaxStrips || !FindItem(state, items::kStripSelector))
            return view;
        const StripRecord& record = state.strips[strip];
        view.present = true;
        view.on = true;
        view.hostControl = record.hostControl == 1;
        view.effectCode = static_cast<std::uint8_t>(record.effect);
        // Byte position i feeds the channel the strip's wiring names; the effect value's colour starts
        // at byte 1, the direct colour at byte 0.
        const std::uint32_t bytes = view.hostControl ? record.color : record.effect >> 8;
        for (int i = 0; i < 3; ++i)
            SetChannel(view, record.wiring[i], static_cast<std::uint8_t>(bytes >> (8 * i)));
        return view;
    });
}

std::uint32_t BoardModel::StripCount()
{
    return With([](BoardState& state) { return state.stripCount; });
}

std::uint8_t BoardModel::EcRegister(std::uint32_t bank, std::uint32_t address)
{
    return With([&](BoardState& state) -> std::uint8_t {
        return bank < kEcBanks && address < kEcRegistersPerBank ? state.ec.registers[bank][address] : 0;
    });
}

std::vector<TraceEntry> BoardModel::Trace(std::size_t limit)
{
    return With([limit](BoardState& state) {
        const std::uint64_t available = std::min<std::uint64_t>(state.traceTotal, kTraceCapacity);
        const std::uint64_t count = std::min<std::uint64_t>(available, limit);
        std::vector<TraceEntry> entries;
        for (std::uint64_t i = state.traceTotal - count; i < state.traceTotal; ++i)
            entries.push_back(state.trace[i % kTraceCapacity]);
        return entries;
    });
}

std::vector<TraceEntry> BoardModel::TraceSince(std::uint64_t& seen)
{
    return With([&seen](BoardState& state) {
        // Entries that the ring has already overwritten are gone; start from the oldest one kept.
        const std::uint64_t oldest =
            state.traceTotal > kTraceCapacity ? state.traceTotal - kTraceCapacity : std::uint64_t{0};
        std::vector<TraceEntry> entries;
        for (std::uint64_t i = std::max(seen, oldest); i < state.traceTotal; ++i)
            entries.push_back(state.trace[i % kTraceCapacity]);
        seen = state.traceTotal;
        return entries;
    });
}

void BoardModel::CountServerInstance(int change, bool newServer)
{
    With([change, newServer](BoardState& state) {
        if (newServer)
            state.server.instancesAlive = 0;
        if (change > 0)
            ++state.server.instancesCreated;
        state.server.instancesAlive += change;
    });
}

void BoardModel::CountNameLookup()
{
    With([](BoardState& state) { ++state.server.nameLookups; });
}

ServerRecord BoardModel::GetServerRecord()
{
    return With([](BoardState& state) { return state.server; });
}

Counters BoardModel::GetCounters()
{
    return With([](BoardState& state) { return state.counters; });
}

CallRecord BoardModel::LastCall()
{
    return With([](BoardState& state) { return state.lastCall; });
}

} // namespace ovled::sim
