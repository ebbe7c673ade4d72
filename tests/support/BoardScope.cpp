#include "tests/support/BoardScope.h"

namespace ovled::test {

BoardScope::BoardScope(sim::Profile profile)
    : m_board(profile, m_clock), m_registry(m_board), m_ec(m_board, m_clock),
      m_config(m_folder / "lightingControl.xml"), m_useFirmware(m_board), m_useRegistry(m_registry), m_useEc(m_ec),
      m_useConfig(m_config)
{
}

} // namespace ovled::test
