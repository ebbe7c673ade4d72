// LightsOff: the rules that switch every light off, and which of them hold. Each rule can be switched on or
// off (and is stored); while any rule holds, the lighting manager keeps every device dark.
//  - lock: the console session is locked;
//  - display: the console's display is off;
//  - night: the local time lies in a nightly window (it may cross midnight);
//  - off now: the user asked for darkness, for some minutes or until the lights are turned on again.
// "On now" ends "off now" and overrides the rules that hold at that moment until each of them has ended
// (the next lock, the next night, the next display-off switch the lights off again).
// Times: the night window is judged by the local time of day at each evaluation, so a daylight-saving
// change or a clock set by hand takes effect at the next evaluation; "off now" counts on the steady clock,
// which neither moves. Pure state, no threads: the owner serialises the calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ovled {

// The rules, as bits of a set.
enum LightsOffRule : std::uint32_t {
    kRuleLock = 1,
    kRuleDisplay = 2,
    kRuleNight = 4,
    kRuleOffNow = 8,
};

inline constexpr int kMinutesPerDay = 24 * 60;

// What the user chose; stored in "Lighting.xml".
struct LightsOffSettings {
    bool onLock = false;
    bool onDisplayOff = false;
    bool nightly = false;
    int nightStart = 23 * 60; // minutes after local midnight, 0..1439
    int nightEnd = 7 * 60;    // the same; the window may cross midnight; start == end is an empty window
    friend bool operator==(const LightsOffSettings&, const LightsOffSettings&) = default;
};

// Whether `minutes` (after local midnight) lies in the window [start, end), which may cross midnight.
bool InNightWindow(int start, int end, int minutes) noexcept;

// Session changes, with the platform's values (WTS_CONSOLE_CONNECT ...).
inline constexpr std::uint32_t kSessionConsoleConnect = 1;
inline constexpr std::uint32_t kSessionConsoleDisconnect = 2;
inline constexpr std::uint32_t kSessionLock = 7;
inline constexpr std::uint32_t kSessionUnlock = 8;

// Whether the console is locked after a session change, or nothing when the change does not concern it.
// Only the console session counts (the one on the machine's own screen and keyboard): a lock of a remote
// session, or of a session switched away from, leaves the lights alone. A session that comes to the
// console brings its own lock state (`sessionLocked`, asked of the system); a session that leaves it
// leaves the logon screen, with nobody at the console, which counts as locked.
std::optional<bool> ConsoleLockedAfter(std::uint32_t event, std::uint32_t session, std::uint32_t consoleSession,
                                       bool sessionLocked) noexcept;

// A time of day as clients write it, "HH:MM" or "H:MM" (00:00 to 23:59), in minutes after midnight;
// nothing for anything else.
std::optional<int> ParseClockTime(std::wstring_view text) noexcept;
// "HH:MM".
std::wstring FormatClockTime(int minutes);

class LightsOff {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    void Configure(const LightsOffSettings& settings) noexcept { m_settings = settings; }
    const LightsOffSettings& Settings() const noexcept { return m_settings; }

    // What the session and the display report.
    void SetLocked(bool locked) noexcept { m_locked = locked; }
    void SetDisplayOff(bool off) noexcept { m_displayOff = off; }
    // Darkness from `now` for `minutes`, or until OnNow when empty.
    void OffNow(TimePoint now, std::optional<std::chrono::minutes> minutes) noexcept;
    // Ends "off now" and overrides every rule that holds (at `localMinutes`) until it has ended.
    void OnNow(TimePoint now, int localMinutes) noexcept;

    // The rules that hold now and are not overridden; an override whose rule has ended is dropped, and an
    // "off now" whose time is up ends.
    std::uint32_t Evaluate(TimePoint now, int localMinutes) noexcept;
    // When "off now" ends by itself; nothing when it is not on, or lasts until OnNow.
    std::optional<TimePoint> OffNowEnds() const noexcept { return m_offUntil; }

private:
    std::uint32_t Holding(TimePoint now, int localMinutes) const noexcept;

    LightsOffSettings m_settings;
    bool m_locked = false;
    bool m_displayOff = false;
    bool m_offNow = false;
    std::optional<TimePoint> m_offUntil;
    std::uint32_t m_overridden = 0;
};

} // namespace ovled
