// The process-wide lock over strip selection. The selector item (0x13060046) is firmware state shared
// by every strip: a strip operation's select-then-write sequence, and the music colour thread's
// per-strip select and colour writes, each hold this lock so that a colour never lands on the wrong
// strip. Any thread; never held while waiting for another lock of the hardware layer's callers.
#pragma once

#include <mutex>

namespace ovled {

std::mutex& StripSelectionMutex() noexcept;

} // namespace ovled
