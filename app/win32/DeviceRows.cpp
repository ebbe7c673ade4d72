#include "app/win32/DeviceRows.h"

#include "app/Presentation.h"
#include "app/StringIds.h"
#include "app/win32/Controls.h"
#include "app/win32/Strings.h"

#include <commctrl.h>

namespace ovled::app::win32 {
namespace {

using ovled::win32::UniqueBrush;
using ovled::win32::UniqueWindow;

constexpr int kLabel = 0;
constexpr int kMode = 1;
constexpr int kSwatch = 2;
constexpr int kState = 3;
constexpr int kIdsPerRow = 4;

void SetCheck(HWND button, bool checked, HWND held)
{
    if (button != held)
        SetCheckedIfChanged(button, checked);
}

} // namespace

DeviceRows::DeviceRows(HWND parent, HWND after, HFONT font) : m_parent(parent), m_font(font)
{
    m_onboardGroup.reset(MakeControl(parent, WC_BUTTONW, LoadText(IDS_GROUP_ONBOARD_ON), BS_CHECKBOX | WS_TABSTOP,
                                     kOnboardGroupId, font, after));
    m_stripsGroup.reset(MakeControl(parent, WC_BUTTONW, LoadText(IDS_GROUP_STRIPS_ON), BS_CHECKBOX | WS_TABSTOP,
                                    kStripsGroupId, font, m_onboardGroup.get()));
    m_noStrips.reset(MakeControl(parent, WC_STATICW, LoadText(IDS_NO_STRIPS), SS_NOPREFIX, kNoStripsId, font));
}

void DeviceRows::Rebuild(const std::vector<DeviceState>& devices, HWND after)
{
    m_rows.clear();
    m_rows.reserve(devices.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const int id = kFirstRowId + static_cast<int>(i) * kIdsPerRow;
        const int device = devices[i].index;
        Row row;
        row.device.index = device;
        row.device.colour = kNoColour - 1; // not shown yet: the first Show sets every field
        // The label goes right before the mode box: its mnemonic moves the focus there, and it is the
        // box's accessible name.
        row.label.reset(MakeControl(m_parent, WC_STATICW, L"", SS_LEFT, id + kLabel, m_font, after));
        row.mode.reset(MakeControl(m_parent, WC_COMBOBOXW, L"", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL,
                                   id + kMode, m_font, row.label.get()));
        for (int text : {IDS_MODE_NONE, IDS_MODE_MUSIC, IDS_MODE_THERMAL})
            SendMessageW(row.mode.get(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LoadText(text).c_str()));
        row.swatch.reset(
            MakeControl(m_parent, WC_STATICW, L"", SS_OWNERDRAW, id + kSwatch, m_font, row.mode.get()));
        row.state.reset(MakeControl(m_parent, WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, id + kState, m_font,
                                    row.swatch.get()));
        after = row.state.get();
        m_rows.push_back(std::move(row));
    }
}

bool DeviceRows::Update(const std::vector<DeviceState>& devices, HWND after, HWND held)
{
    const bool rebuild = devices.size() != m_rows.size();
    if (rebuild)
        Rebuild(devices, after);
    for (std::size_t i = 0; i < devices.size(); ++i)
        Show(m_rows[i], devices[i], held);
    const bool anyStrip = devices.size() > 1;
    ShowWindow(m_stripsGroup.get(), anyStrip ? SW_SHOW : SW_HIDE);
    ShowWindow(m_noStrips.get(), anyStrip ? SW_HIDE : SW_SHOW);
    if (!devices.empty())
        SetCheck(m_onboardGroup.get(), devices.front().on, held);
    if (anyStrip)
        SetCheck(m_stripsGroup.get(), devices[1].on, held);
    return rebuild;
}

void DeviceRows::Show(Row& row, const DeviceState& device, HWND held)
{
    if (device.name != row.device.name || row.device.colour == kNoColour - 1)
        SetTextIfChanged(row.label.get(), WithMnemonic(device.name, DeviceMnemonic(device.index)));
    const bool dropped = SendMessageW(row.mode.get(), CB_GETDROPPEDSTATE, 0, 0) != 0;
    if (row.mode.get() != held && !dropped) {
        const WPARAM selection = ModeString(device.mode) ? static_cast<WPARAM>(device.mode) : static_cast<WPARAM>(-1);
        if (static_cast<WPARAM>(SendMessageW(row.mode.get(), CB_GETCURSEL, 0, 0)) != selection)
            SendMessageW(row.mode.get(), CB_SETCURSEL, selection, 0);
    }
    if (device.colour != row.device.colour || device.name != row.device.name) {
        const std::wstring colour = ColourText(device.colour);
        // The swatch's text is not drawn: it is what a screen reader says of it.
        SetWindowTextW(row.swatch.get(),
                       LoadText(IDS_COLOUR_NAME, {device.name, colour.empty() ? LoadText(IDS_COLOUR_NONE) : colour})
                           .c_str());
        InvalidateRect(row.swatch.get(), nullptr, FALSE);
    }
    std::wstring state;
    if (!device.on)
        state = LoadText(IDS_SWITCHED_OFF);
    else if (!ModeString(device.mode))
        state = LoadText(IDS_MODE_OTHER, {std::to_wstring(device.mode)});
    SetTextIfChanged(row.state.get(), state);
    row.device = device;
}

void DeviceRows::Enable(bool enabled)
{
    for (Row& row : m_rows)
        EnableWindow(row.mode.get(), enabled);
    EnableWindow(m_onboardGroup.get(), enabled && !m_rows.empty());
    EnableWindow(m_stripsGroup.get(), enabled && m_rows.size() > 1);
}

int DeviceRows::Layout(const Placer& placer, int top) const
{
    const int stateLeft = kMargin + kLabelWidth + kComboWidth + kSwatchWidth + 18;
    for (const Row& row : m_rows) {
        placer.Place(row.label.get(), kMargin, top + 4, kLabelWidth, kLine - 4);
        placer.Place(row.mode.get(), kMargin + kLabelWidth, top, kComboWidth, kLine * 6);
        placer.Place(row.swatch.get(), kMargin + kLabelWidth + kComboWidth + 8, top + 2, kSwatchWidth, kLine - 4);
        placer.Place(row.state.get(), stateLeft, top + 4, kContentWidth - stateLeft, kLine - 4);
        top += kRowStep;
    }
    const int half = (kContentWidth - 2 * kMargin) / 2;
    placer.Place(m_onboardGroup.get(), kMargin, top, half, kLine);
    placer.Place(m_stripsGroup.get(), kMargin + half, top, half, kLine);
    placer.Place(m_noStrips.get(), kMargin + half, top + 4, half, kLine - 4);
    return top + kRowStep;
}

void DeviceRows::SetFont(HFONT font)
{
    m_font = font;
    for (const Row& row : m_rows) {
        for (HWND control : {row.label.get(), row.mode.get(), row.swatch.get(), row.state.get()})
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    for (HWND control : {m_onboardGroup.get(), m_stripsGroup.get(), m_noStrips.get()})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

const DeviceRows::Row* DeviceRows::RowOf(int id) const noexcept
{
    const int index = (id - kFirstRowId) / kIdsPerRow;
    if (id < kFirstRowId || index >= static_cast<int>(m_rows.size()))
        return nullptr;
    return &m_rows[static_cast<std::size_t>(index)];
}

bool DeviceRows::CommandFor(int id, int code, Command& command) const
{
    if ((id == kOnboardGroupId || id == kStripsGroupId) && code == BN_CLICKED) {
        const bool onboard = id == kOnboardGroupId;
        const std::size_t first = onboard ? 0 : 1;
        if (m_rows.size() <= first)
            return false;
        const DeviceState& device = m_rows[first].device;
        // Storing a device's own mode switches its group on again; -2 and -3 switch a group off.
        command = device.on ? Command{Command::Kind::SetMode, onboard ? kOnboardOffCommand : kStripsOffCommand, 0}
                            : Command{Command::Kind::SetMode, device.index, device.mode};
        HWND button = onboard ? m_onboardGroup.get() : m_stripsGroup.get();
        SendMessageW(button, BM_SETCHECK, device.on ? BST_UNCHECKED : BST_CHECKED, 0);
        return true;
    }
    const Row* row = RowOf(id);
    if (!row || (id - kFirstRowId) % kIdsPerRow != kMode || code != CBN_SELCHANGE)
        return false;
    const LRESULT selection = SendMessageW(row->mode.get(), CB_GETCURSEL, 0, 0);
    if (selection < 0)
        return false;
    command = Command{Command::Kind::SetMode, row->device.index, static_cast<int>(selection)};
    return true;
}

bool DeviceRows::Draw(const DRAWITEMSTRUCT& item) const
{
    const Row* row = RowOf(static_cast<int>(item.CtlID));
    if (!row || (static_cast<int>(item.CtlID) - kFirstRowId) % kIdsPerRow != kSwatch)
        return false;
    FrameRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_WINDOWFRAME));
    RECT inner = item.rcItem;
    InflateRect(&inner, -1, -1);
    if (row->device.colour < 0) {
        // No colour yet: a hatched field, so it is not taken for black.
        const UniqueBrush hatch(CreateHatchBrush(HS_BDIAGONAL, GetSysColor(COLOR_GRAYTEXT)));
        FillRect(item.hDC, &inner, GetSysColorBrush(COLOR_WINDOW));
        FillRect(item.hDC, &inner, hatch.get());
        return true;
    }
    // A colour argument has red in its low byte, as a COLORREF does.
    const UniqueBrush brush(CreateSolidBrush(static_cast<COLORREF>(row->device.colour) & 0xFFFFFFu));
    FillRect(item.hDC, &inner, brush.get());
    return true;
}

} // namespace ovled::app::win32
