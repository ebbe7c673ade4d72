#include "platform/ProcessRoot.h"

#include <atomic>

namespace ovled::platform {
namespace {

std::atomic<ProcessRoot*> g_current{nullptr};

} // namespace

ProcessRoot* ProcessRoot::Current() noexcept
{
    return g_current.load();
}

ProcessRoot::~ProcessRoot()
{
    Uninstall();
}

void ProcessRoot::Install() noexcept
{
    if (m_installed)
        return;
    m_previous = g_current.exchange(this);
    m_installed = true;
}

void ProcessRoot::Uninstall() noexcept
{
    if (!m_installed)
        return;
    g_current.store(m_previous);
    m_installed = false;
}

} // namespace ovled::platform
