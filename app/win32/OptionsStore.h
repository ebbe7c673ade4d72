// The app's per-user options in HKEY_CURRENT_USER\Software\Orvex\OvLedLighting (DWORD values TrayIcon and
// StartAtLogon; a missing value means on). Read at the start and written when a person changes one, on the
// window's thread.
#pragma once

#include "app/AppOptions.h"

namespace ovled::app::win32 {

AppOptions LoadOptions() noexcept;
// False when the value could not be written (the option then holds for this run only).
bool SaveOptions(const AppOptions& options) noexcept;

} // namespace ovled::app::win32
