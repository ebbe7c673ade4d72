// The app's strings, from the string table of its own executable (app/win32/OvLedLighting.rc).
#pragma once

#include "app/Presentation.h"

#include <string>

namespace ovled::app::win32 {

std::wstring LoadText(int id);
// The string with its %1, %2, ... replaced (see app::Substitute).
std::wstring LoadText(int id, std::initializer_list<std::wstring_view> arguments);
// An HRESULT as people quote it: 0x80070005.
std::wstring HresultText(long result);

} // namespace ovled::app::win32
