#include "hardware/win32/PortIoLibrary.h"

#include "platform/Paths.h"

namespace ovled {
namespace {

template <class Function>
Function Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

std::int32_t PortIoLibrary::Load()
{
    if (!m_module) {
        const std::filesystem::path folder = platform::ExecutableDirectory();
        if (folder.empty())
            return kPortIoNotLoaded;
        m_module.reset(LoadLibraryExW((folder / m_fileName).c_str(), nullptr,
                                      LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
        if (!m_module)
            return kPortIoNotLoaded;
        m_open = Resolve<OpenFunction>(m_module.get(), "OVIO_Open");
        m_out = Resolve<OutFunction>(m_module.get(), "OVIO_OutPortB");
        m_in = Resolve<InFunction>(m_module.get(), "OVIO_InPortB");
    }
    if (!m_open)
        return kPortIoNoOpen;
    return m_open(0) != 0 ? kPortIoReady : kPortIoOpenFailed;
}

void PortIoLibrary::OutPortB(std::uint16_t port, std::uint8_t value)
{
    if (m_out)
        m_out(port, value);
}

std::uint8_t PortIoLibrary::InPortB(std::uint16_t port)
{
    return m_in ? static_cast<std::uint8_t>(m_in(port)) : 0xFF;
}

} // namespace ovled
