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

// Failures of a call on an out-of-process COM object that say its server has gone (ended, killed,
// stopping, disconnected): the object cannot be used again, and a new one may work.
constexpr bool ServerWentAway(HResult result) noexcept
{
    switch (static_cast<std::uint32_t>(result)) {
    case 0x80010007u: // RPC_E_SERVER_DIED
    case 0x80010012u: // RPC_E_SERVER_DIED_DNE
    case 0x80010108u: // RPC_E_DISCONNECTED
    case 0x80010084u: // RPC_E_INVALID_OBJECT
    case 0x800401FDu: // CO_E_OBJNOTCONNECTED
    case 0x80004028u: // CO_E_SERVER_STOPPING
    case 0x800706BAu: // RPC_S_SERVER_UNAVAILABLE
    case 0x800706BEu: // RPC_S_CALL_FAILED
    case 0x800706BFu: // RPC_S_CALL_FAILED_DNE
        return true;
    default:
        return false;
    }
}

} // namespace ovled
