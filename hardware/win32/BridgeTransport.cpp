// The Windows defaults of the hardware seams: the firmware through the automation bridge, the
// embedded controller through "ovio.dll" beside the executable.
#include "hardware/FirmwareTransport.h"
#include "hardware/PortIo.h"
#include "hardware/win32/AcpiBridge.h"
#include "hardware/win32/PortIoLibrary.h"

namespace ovled {
namespace {

class BridgeTransport final : public IFirmwareTransport {
public:
    std::uint32_t AcpiInit() override { return ::AcpiInit(); }
    std::uint32_t AcpiGetItem(std::uint32_t id, std::uint32_t* value) override { return ::AcpiGetItem(id, value); }
    std::uint32_t AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value) override
    {
        return ::AcpiGetItemEx(id, parameter, value);
    }
    std::uint32_t AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) override
    {
        return ::AcpiSetItem(id, value, flags);
    }
    std::uint32_t AcpiSetItemBuffer(std::uint32_t ignored, std::uint32_t id, std::uint8_t* buffer,
                                    std::uint32_t* length) override
    {
        return ::AcpiSetItemBuffer(ignored, id, buffer, length);
    }
    std::uint32_t AcpiMbif(std::uint8_t* buffer, std::uint32_t* length) override { return ::AcpiMbif(buffer, length); }
    std::uint32_t AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length) override
    {
        return ::AcpiGGrp(group, buffer, length);
    }
    std::uint32_t AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer, std::uint32_t* length) override
    {
        return ::AcpiCallMethod(selector, buffer, length);
    }
};

} // namespace

IFirmwareTransport& DefaultFirmwareTransport()
{
    static BridgeTransport transport;
    return transport;
}

IPortIo& DefaultPortIo()
{
    static PortIoLibrary library;
    return library;
}

} // namespace ovled
