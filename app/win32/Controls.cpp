#include "app/win32/Controls.h"

#include <commctrl.h>

namespace ovled::app::win32 {

HWND MakeControl(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style, int id, HFONT font,
                 HWND after)
{
    HWND control = CreateWindowExW(0, windowClass, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                   nullptr);
    if (control) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        if (after)
            SetWindowPos(control, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    return control;
}

void SetTextIfChanged(HWND control, const std::wstring& text)
{
    const int length = GetWindowTextLengthW(control);
    std::wstring current(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(control, current.data(), length + 1);
    current.resize(static_cast<std::size_t>(length));
    if (current != text)
        SetWindowTextW(control, text.c_str());
}

void SetCheckedIfChanged(HWND button, bool checked)
{
    const WPARAM state = checked ? BST_CHECKED : BST_UNCHECKED;
    if (static_cast<WPARAM>(SendMessageW(button, BM_GETCHECK, 0, 0)) != state)
        SendMessageW(button, BM_SETCHECK, state, 0);
}

void SetPositionIfChanged(HWND trackbar, int position)
{
    if (SendMessageW(trackbar, TBM_GETPOS, 0, 0) != position)
        SendMessageW(trackbar, TBM_SETPOS, TRUE, position);
}

} // namespace ovled::app::win32
