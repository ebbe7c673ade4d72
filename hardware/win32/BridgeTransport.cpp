#include "hardware/win32/BridgeTransport.h"

#include "hardware/win32/AcpiBridge.h"

namespace ovled {

std::uint32_t AutomationBridgeTransport::AcpiInit()
{
    return ::AcpiInit();
}

std::uint32_t AutomationBridgeTransport::AcpiGetItem(std::uint32_t id, std::uint32_t* value)
{
    return ::AcpiGetItem(id, value);
}

std::uint32_t AutomationBridgeTransport::AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value)
{
    return ::AcpiGetItemEx(id, parameter, value);
}

std::uint32_t AutomationBridgeTransport::AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags)
{
    return ::AcpiSetItem(id, value, flags);
}

std::uint32_t AutomationBridgeTransport::AcpiSetItemBuffer(std::uint32_t ignored, std::uint32_t id,
                                                           std::uint8_t* buffer, std::uint32_t* length)
{
    return ::AcpiSetItemBuffer(ignored, id, buffer, length);
}

std::uint32_t AutomationBridgeTransport::AcpiMbif(std::uint8_t* buffer, std::uint32_t* length)
{
    return ::AcpiMbif(buffer, length);
}

std::uint32_t AutomationBridgeTransport::AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length)
{
    return ::AcpiGGrp(group, buffer, length);
}

std::uint32_t AutomationBridgeTransport::AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer,
                                                        std::uint32_t* length)
{
    return ::AcpiCallMethod(selector, buffer, length);
}

} // namespace ovled
