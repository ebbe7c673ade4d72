// HRESULT values as the portable core sees them: a signed 32-bit status, 0 or positive on success.
// Windows code uses the SDK's HRESULT, which has the same width and values; both meet here.
#pragma once

#include <cstdint>

namespace ovled {

using HResult = std::int32_t;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kRpcEChangedMode = static_cast<HResult>(0x80010106u);

constexpr bool Succeeded(HResult result) noexcept
{
    return result >= 0;
}

// A Windows error code as an HRESULT: 0 and negative values stay as they are, a positive e becomes
// 0x80070000 | (e & 0xFFFF).
constexpr HResult HresultFromWin32(long error) noexcept
{
    return error <= 0 ? static_cast<HResult>(error)
                      : static_cast<HResult>(0x80070000u | (static_cast<unsigned long>(error) & 0xFFFFu));
}

} // namespace ovled
