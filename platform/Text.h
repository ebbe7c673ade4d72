// Conversion between wide text and the system's ANSI (8-bit) code page.
// Windows: the active code page (CP_ACP). Host: ISO 8859-1, byte for byte, so tests are deterministic.
#pragma once

#include <string>
#include <string_view>

namespace ovled::platform {

std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);

} // namespace ovled::platform
