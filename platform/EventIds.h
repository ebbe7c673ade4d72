// The ids of the executable's message table (resources/), as the message compiler writes them: the
// severity in bits 30-31 (1 information, 2 warning, 3 error), which also gives the event's type, and the
// number that Event Viewer shows in bits 0-15. Every id here has a message in the table, with the
// inserts its comment names.
#pragma once

#include <cstdint>

namespace ovled::events {

inline constexpr std::uint32_t kInformation = 0x40000000;
inline constexpr std::uint32_t kWarning = 0x80000000;
inline constexpr std::uint32_t kError = 0xC0000000;

// The service's own life.
inline constexpr std::uint32_t kServiceStarted = kInformation | 1;   // "Service started/resumed"
inline constexpr std::uint32_t kServiceStopped = kInformation | 2;   // "Service stopped"
inline constexpr std::uint32_t kHandlerNotInstalled = kError | 3;    // "Handler not installed"
inline constexpr std::uint32_t kBadServiceRequest = kWarning | 4;    // "Bad service request"
// %1 the HRESULT: the process ends without serving or calling anyone.
inline constexpr std::uint32_t kComSecurityNotSet = kError | 5;

// Settings files. %1 the file, %2 why it cannot be used, %3 the name it was kept under.
inline constexpr std::uint32_t kSettingsKeptAside = kWarning | 100;
// %1 the file, %2 why it cannot be used: it stays as it is and the settings live in memory.
inline constexpr std::uint32_t kSettingsKeptInPlace = kWarning | 101;

// Every id above, for the test that formats each from the built executable.
inline constexpr std::uint32_t kAllIds[] = {kServiceStarted,    kServiceStopped,    kHandlerNotInstalled, kBadServiceRequest,
                                            kComSecurityNotSet, kSettingsKeptAside, kSettingsKeptInPlace};

} // namespace ovled::events
