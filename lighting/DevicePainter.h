// DevicePainter: the one way a colour source's colour reaches the lighting manager's devices. It applies
// the brightness (at 100 %, the default, every colour goes out as the source made it) and remembers the
// colour each device was last shown, for clients that show it. Built by the manager over its devices,
// which outlive it; painted by the colour thread, the thermal thread and the apply thread, read by any.
#pragma once

#include "lighting/DeviceContract.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <vector>

namespace ovled {

inline constexpr int kFullBrightness = 100;

class DevicePainter {
public:
    // The onboard zone and the strips (strip i at position i).
    DevicePainter(ILedDevice& onboard, std::vector<ILedDevice*> strips);

    // 0..100 (the caller has checked the range).
    void SetBrightness(int percent) noexcept { m_brightness = percent; }
    int Brightness() const noexcept { return m_brightness; }
    // What `colour` becomes at the current brightness: each channel scaled and rounded.
    Rgb Scaled(Rgb colour) const noexcept;

    // While dark, no source's colour reaches a device (a colour or thermal thread that is still ending
    // cannot paint over the darkness); only ShowDark does. Going dark waits for the colours being shown
    // at that moment, so none lands after it.
    void SetDark(bool dark);
    // Shows a colour that is already scaled on a device; false when there is no such device, the
    // painter is dark or the firmware refused it.
    bool Show(int device, Rgb shown, ColourSource source);
    // Black on a device, dark or not.
    bool ShowDark(int device);
    // Scales `colour` and shows it.
    bool Paint(int device, Rgb colour, ColourSource source) { return Show(device, Scaled(colour), source); }

    ILedDevice* Device(int index) const noexcept;
    // The colour the device was last shown successfully; nothing before its first paint, or after it
    // was handed back to the board (Forget).
    std::optional<Rgb> LastShown(int device) const;
    void Forget(int device);

private:
    bool ShowAnyway(int device, Rgb shown, ColourSource source);

    ILedDevice& m_onboard;
    const std::vector<ILedDevice*> m_strips;
    std::atomic<int> m_brightness{kFullBrightness};
    std::shared_mutex m_darkGate; // shared by each Show, taken alone by SetDark
    bool m_dark = false;
    mutable std::mutex m_mutex;
    std::vector<std::optional<Rgb>> m_shown; // the onboard zone's first, then each strip's
};

} // namespace ovled
