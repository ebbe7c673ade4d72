#include "hardware/StripSelection.h"

namespace ovled {

std::mutex& StripSelectionMutex() noexcept
{
    static std::mutex mutex;
    return mutex;
}

} // namespace ovled
