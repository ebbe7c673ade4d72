// Placing the main window's controls: sizes are given in pixels at 96 DPI and scaled to the window's
// DPI (per monitor), rows are laid from the top, shifted by the scroll position. The main window's thread.
#pragma once

#include <windows.h>

namespace ovled::app::win32 {

struct Placer {
    UINT dpi = 96;
    int scroll = 0; // pixels scrolled down

    int Scale(int dips) const noexcept { return MulDiv(dips, static_cast<int>(dpi), 96); }
    // Places `control` at (x, y) of the content, all four in 96-DPI pixels.
    void Place(HWND control, int x, int y, int width, int height) const noexcept
    {
        MoveWindow(control, Scale(x), Scale(y) - scroll, Scale(width), Scale(height), FALSE);
    }
};

// The content's grid, in 96-DPI pixels.
inline constexpr int kMargin = 11;
inline constexpr int kLine = 23;     // a control's height
inline constexpr int kRowStep = 27;  // from one row of controls to the next
inline constexpr int kLabelWidth = 130;
inline constexpr int kComboWidth = 110;
inline constexpr int kSwatchWidth = 44;
inline constexpr int kContentWidth = 440;

} // namespace ovled::app::win32
