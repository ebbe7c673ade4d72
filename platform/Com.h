// COM initialisation of a thread that reaches the firmware. Windows: CoInitialize(NULL), never
// undone (the threads that call it live as long as the process or end without further COM use).
// Host: nothing to do.
#pragma once

namespace ovled::platform {

void InitializeComForThread() noexcept;

} // namespace ovled::platform
