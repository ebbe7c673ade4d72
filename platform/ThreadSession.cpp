#include "platform/ThreadSession.h"

namespace ovled::platform {
namespace {

class NoSessions final : public IThreadSessions {
public:
    std::unique_ptr<IThreadSession> Begin() noexcept override { return nullptr; }
};

} // namespace

IThreadSessions& NoThreadSessions() noexcept
{
    static NoSessions sessions;
    return sessions;
}

} // namespace ovled::platform
