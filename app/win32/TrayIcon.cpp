#include "app/win32/TrayIcon.h"

#include <shellapi.h>

#include <algorithm>

namespace ovled::app::win32 {
namespace {

constexpr UINT kIconId = 1;

} // namespace

NOTIFYICONDATAW TrayIcon::Data(UINT flags) const
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = m_owner;
    data.uID = kIconId;
    data.uFlags = flags;
    data.uCallbackMessage = m_message;
    data.hIcon = m_icon;
    const std::size_t length = std::min(m_tip.size(), std::size(data.szTip) - 1);
    std::copy_n(m_tip.c_str(), length, data.szTip);
    data.uVersion = NOTIFYICON_VERSION_4;
    return data;
}

void TrayIcon::Show(HICON icon, const std::wstring& tip)
{
    if (m_added && icon == m_icon && tip == m_tip)
        return;
    m_icon = icon;
    m_tip = tip;
    NOTIFYICONDATAW data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    if (m_added) {
        Shell_NotifyIconW(NIM_MODIFY, &data);
        return;
    }
    m_added = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    if (m_added)
        Shell_NotifyIconW(NIM_SETVERSION, &data);
}

void TrayIcon::Remove() noexcept
{
    if (!m_added)
        return;
    NOTIFYICONDATAW data = Data(0);
    Shell_NotifyIconW(NIM_DELETE, &data);
    m_added = false;
}

void TrayIcon::Restore()
{
    if (!m_icon)
        return;
    m_added = false;
    Show(m_icon, std::wstring(m_tip));
}

UINT TaskbarCreatedMessage() noexcept
{
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

} // namespace ovled::app::win32
