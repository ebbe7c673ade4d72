// IPortIo: the port-I/O seam under the embedded-controller protocol: load (and open) the port-I/O
// library, write a byte to an I/O port, read one. The service's is the "ovio.dll" loader (hardware/win32),
// handed to the process's Board by the composition root; tests: the virtual board. Called by EcPort under
// its mutex only.
#pragma once

#include <cstdint>

namespace ovled {

// Load results, as LoadPortLibrary reports them.
inline constexpr std::int32_t kPortIoReady = 0;
inline constexpr std::int32_t kPortIoNotLoaded = 1;  // nothing changed; the next access tries again
inline constexpr std::int32_t kPortIoNoOpen = 2;     // "OVIO_Open" is missing
inline constexpr std::int32_t kPortIoOpenFailed = 7; // "OVIO_Open"(0) returned 0

class IPortIo {
public:
    virtual ~IPortIo() = default;
    // Loads the library, resolves its entry points and opens it; one of the codes above. After an
    // answer other than kPortIoNotLoaded the library stays loaded and Load is not called again.
    virtual std::int32_t Load() = 0;
    // Both byte entry points were found. Without them every access is skipped.
    virtual bool HasPortAccess() = 0;
    virtual void OutPortB(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t InPortB(std::uint16_t port) = 0;
};

// A machine without the library: it never loads.
class NoPortIo final : public IPortIo {
public:
    std::int32_t Load() override { return kPortIoNotLoaded; }
    bool HasPortAccess() override { return false; }
    void OutPortB(std::uint16_t, std::uint8_t) override {}
    std::uint8_t InPortB(std::uint16_t) override { return 0xFF; }
};

} // namespace ovled
