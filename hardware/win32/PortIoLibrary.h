// PortIoLibrary: the port-I/O seam over the board maker's "ovio.dll". The library is loaded only from
// the executable's own folder (the installation folder, which only administrators may write), by its
// full path: never from the current folder, PATH or the system folder, where anyone or anything else may
// have put a file of that name (the service runs as LocalSystem). What it imports comes from its own
// folder or System32. Once loaded it stays loaded. Called by EcPort under its mutex only.
#pragma once

#include "hardware/PortIo.h"
#include "platform/win32/Unique.h"

#include <string>

namespace ovled {

class PortIoLibrary final : public IPortIo {
public:
    // `fileName` is looked for beside the executable only.
    explicit PortIoLibrary(std::wstring fileName = L"ovio.dll") : m_fileName(std::move(fileName)) {}

    std::int32_t Load() override;
    bool HasPortAccess() override { return m_out && m_in; }
    void OutPortB(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t InPortB(std::uint16_t port) override;

private:
    using OpenFunction = DWORD(WINAPI*)(DWORD);
    using OutFunction = void(WINAPI*)(DWORD, DWORD);
    using InFunction = DWORD(WINAPI*)(DWORD);

    const std::wstring m_fileName;
    win32::UniqueModule m_module;
    OpenFunction m_open = nullptr;
    OutFunction m_out = nullptr;
    InFunction m_in = nullptr;
};

} // namespace ovled
