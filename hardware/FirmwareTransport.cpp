#include "hardware/FirmwareTransport.h"

#include "platform/Singleton.h"

namespace ovled {
namespace {

class ForwardingTransport final : public IFirmwareTransport {
public:
    std::uint32_t AcpiInit() override { return FirmwareTransport().AcpiInit(); }
    std::uint32_t AcpiGetItem(std::uint32_t id, std::uint32_t* value) override
    {
        return FirmwareTransport().AcpiGetItem(id, value);
    }
    std::uint32_t AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value) override
    {
        return FirmwareTransport().AcpiGetItemEx(id, parameter, value);
    }
    std::uint32_t AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) override
    {
        return FirmwareTransport().AcpiSetItem(id, value, flags);
    }
    std::uint32_t AcpiSetItemBuffer(std::uint32_t ignored, std::uint32_t id, std::uint8_t* buffer,
                                    std::uint32_t* length) override
    {
        return FirmwareTransport().AcpiSetItemBuffer(ignored, id, buffer, length);
    }
    std::uint32_t AcpiMbif(std::uint8_t* buffer, std::uint32_t* length) override
    {
        return FirmwareTransport().AcpiMbif(buffer, length);
    }
    std::uint32_t AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length) override
    {
        return FirmwareTransport().AcpiGGrp(group, buffer, length);
    }
    std::uint32_t AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer, std::uint32_t* length) override
    {
        return FirmwareTransport().AcpiCallMethod(selector, buffer, length);
    }
};

} // namespace

IFirmwareTransport& FirmwareTransport()
{
    if (auto* installed = platform::ScopedInstanceOverride<IFirmwareTransport>::Current())
        return *installed;
    return DefaultFirmwareTransport();
}

IFirmwareTransport& ProcessFirmwareTransport()
{
    static ForwardingTransport transport;
    return transport;
}

} // namespace ovled
