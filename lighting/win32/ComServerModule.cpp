#include "lighting/win32/ComServerModule.h"

#include <atomic>

namespace ovled::win32 {
namespace {
std::atomic<IComServerModule*> g_module{nullptr};
} // namespace

IComServerModule* CurrentModule() noexcept
{
    return g_module.load();
}

IComServerModule* SetCurrentModule(IComServerModule* module) noexcept
{
    return g_module.exchange(module);
}

} // namespace ovled::win32
