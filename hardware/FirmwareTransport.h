// IFirmwareTransport: the eight firmware (ACPI) operations with the bridge's exact argument, buffer and
// result semantics. The service's transport is the automation bridge (hardware/win32), handed to the
// process's Board by the composition root; tests hand it a virtual board.
// Any thread may call; implementations serialise what they must themselves.
#pragma once

#include <cstdint>

namespace ovled {

// Every operation returns 1 on success and 0 on failure.
// Buffer operations take the caller's buffer and a length: on entry the number of bytes to send, which
// is also the buffer's capacity; on return the number of bytes handed back (never more than the
// capacity). A buffer operation whose invocation failed still returns 1 and leaves the buffer as sent.
class IFirmwareTransport {
public:
    virtual ~IFirmwareTransport() = default;

    virtual std::uint32_t AcpiInit() = 0;
    // On success the item's value has been written to *value; on failure *value keeps what it held.
    virtual std::uint32_t AcpiGetItem(std::uint32_t id, std::uint32_t* value) = 0;
    virtual std::uint32_t AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value) = 0;
    virtual std::uint32_t AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) = 0;
    virtual std::uint32_t AcpiSetItemBuffer(std::uint32_t ignored, std::uint32_t id, std::uint8_t* buffer,
                                            std::uint32_t* length) = 0;
    virtual std::uint32_t AcpiMbif(std::uint8_t* buffer, std::uint32_t* length) = 0;
    // Byte 0 of the buffer is set to 0xE1 before it is sent.
    virtual std::uint32_t AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length) = 0;
    // Sends the value *selector points at.
    virtual std::uint32_t AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer,
                                         std::uint32_t* length) = 0;
};

// A transport with no firmware behind it: every operation fails (0) and writes nothing.
class NoFirmwareTransport final : public IFirmwareTransport {
public:
    std::uint32_t AcpiInit() override { return 0; }
    std::uint32_t AcpiGetItem(std::uint32_t, std::uint32_t*) override { return 0; }
    std::uint32_t AcpiGetItemEx(std::uint32_t, std::uint32_t, std::uint32_t*) override { return 0; }
    std::uint32_t AcpiSetItem(std::uint32_t, std::uint32_t, std::uint32_t) override { return 0; }
    std::uint32_t AcpiSetItemBuffer(std::uint32_t, std::uint32_t, std::uint8_t*, std::uint32_t*) override { return 0; }
    std::uint32_t AcpiMbif(std::uint8_t*, std::uint32_t*) override { return 0; }
    std::uint32_t AcpiGGrp(std::uint32_t, std::uint8_t*, std::uint32_t*) override { return 0; }
    std::uint32_t AcpiCallMethod(const std::uint32_t*, std::uint8_t*, std::uint32_t*) override { return 0; }
};

} // namespace ovled
