#include "tests/support/BoardScope.h"

#include "audio/SilentCapture.h"

namespace ovled::test {

BoardScope::BoardScope(sim::Profile profile)
    : m_board(profile, m_clock),
      m_process(ProcessParts{m_board, platform::NoThreadSessions(), m_board, m_folder.Path(), m_clock, [] { return std::make_unique<SilentCapture>(); }})
{
}

} // namespace ovled::test
