// DeviceRows: a row per device (its name with a mnemonic, its mode, the colour it shows now, whether its
// group is switched off) and the two group switches below them. Children of the main window; the rows are
// made anew when the number of devices changes. The main window's thread only.
#pragma once

#include "app/LightingState.h"
#include "app/win32/Layout.h"
#include "platform/win32/Unique.h"

#include <vector>

namespace ovled::app::win32 {

class DeviceRows {
public:
    // Control ids: the group switches, then four a row (label, mode, swatch, state) from kFirstRowId.
    static constexpr int kOnboardGroupId = 900;
    static constexpr int kStripsGroupId = 901;
    static constexpr int kNoStripsId = 902;
    static constexpr int kFirstRowId = 1000;

    // The group switches and the "no strips" line are made at once, after `after` in the tab order.
    DeviceRows(HWND parent, HWND after, HFONT font);

    // Shows the devices; rows are made anew (after `after` in the tab order) when their number changed,
    // and then true is returned: the layout must follow. `held` is a control the person is changing,
    // which keeps what they chose.
    bool Update(const std::vector<DeviceState>& devices, HWND after, HWND held);
    void Enable(bool enabled);
    // Lays the rows from `top` (96-DPI pixels); returns the bottom.
    int Layout(const Placer& placer, int top) const;
    void SetFont(HFONT font);
    // A WM_COMMAND of one of these controls as a change for the service; false when there is none.
    bool CommandFor(int id, int code, Command& command) const;
    // WM_DRAWITEM of a swatch; false when the item is not one.
    bool Draw(const DRAWITEMSTRUCT& item) const;

private:
    struct Row {
        DeviceState device;
        ovled::win32::UniqueWindow label;
        ovled::win32::UniqueWindow mode;
        ovled::win32::UniqueWindow swatch;
        ovled::win32::UniqueWindow state;
    };
    void Rebuild(const std::vector<DeviceState>& devices, HWND after);
    void Show(Row& row, const DeviceState& device, HWND held);
    const Row* RowOf(int id) const noexcept;

    HWND m_parent;
    HFONT m_font;
    std::vector<Row> m_rows;
    ovled::win32::UniqueWindow m_onboardGroup;
    ovled::win32::UniqueWindow m_stripsGroup;
    ovled::win32::UniqueWindow m_noStrips;
};


} // namespace ovled::app::win32
