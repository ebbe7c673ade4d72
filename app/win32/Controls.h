// Small helpers for the main window's child controls. The main window's thread.
#pragma once

#include <windows.h>

#include <string>

namespace ovled::app::win32 {

// A child control with the app's font, after `after` in the tab order when given. The parent destroys it
// with itself; a caller that replaces it sooner holds it in a UniqueWindow.
HWND MakeControl(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style, int id,
                 HFONT font, HWND after = nullptr);

// Sets a control's text only when it differs: a static that is set anew flickers, and an edit loses
// the caret.
void SetTextIfChanged(HWND control, const std::wstring& text);
// The same for a check box's state and a trackbar's position: the window shows snapshots ten times a
// second, and most of them change nothing.
void SetCheckedIfChanged(HWND button, bool checked);
void SetPositionIfChanged(HWND trackbar, int position);

} // namespace ovled::app::win32
