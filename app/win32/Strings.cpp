#include "app/win32/Strings.h"

#include <windows.h>

#include <cwchar>

namespace ovled::app::win32 {

std::wstring LoadText(int id)
{
    const wchar_t* text = nullptr;
    // With a length of 0, LoadStringW hands out the resource's own (not terminated) text.
    const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

std::wstring LoadText(int id, std::initializer_list<std::wstring_view> arguments)
{
    return Substitute(LoadText(id), arguments);
}

std::wstring HresultText(long result)
{
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(result));
    return text;
}

} // namespace ovled::app::win32
