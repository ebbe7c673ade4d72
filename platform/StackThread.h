// A thread with a stack of a given size, for work whose stack depth follows its input rather than the
// code: the settings parser recurses once per open element of the file it reads. The caller waits for
// the work. The stack is reserved, not committed: only the pages the work touches cost memory, so a
// generous size for a rare deep input costs an ordinary input nothing. Any thread.
#pragma once

#include <cstddef>
#include <functional>

namespace ovled::platform {

// Runs `work` on a new thread whose stack is `stackBytes` long (rounded up to what the system accepts)
// and returns once it has ended. False when no such thread could be started (the system refused the
// thread or the address space for its stack): the work did not run. An exception thrown by the work is
// thrown again on the caller's thread.
[[nodiscard]] bool RunOnThreadWithStack(std::size_t stackBytes, const std::function<void()>& work);

} // namespace ovled::platform
