// AutomationBridgeTransport: the firmware transport over the automation bridge's eight functions (one
// server per call, as outside callers of the exports get it). The composition root hands it to the
// process's Board on Windows; tools and tests that reach the real server use it too. Stateless; any
// thread that has initialised COM.
#pragma once

#include "hardware/FirmwareTransport.h"

namespace ovled {

class AutomationBridgeTransport final : public IFirmwareTransport {
public:
    std::uint32_t AcpiInit() override;
    std::uint32_t AcpiGetItem(std::uint32_t id, std::uint32_t* value) override;
    std::uint32_t AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value) override;
    std::uint32_t AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) override;
    std::uint32_t AcpiSetItemBuffer(std::uint32_t ignored, std::uint32_t id, std::uint8_t* buffer,
                                    std::uint32_t* length) override;
    std::uint32_t AcpiMbif(std::uint8_t* buffer, std::uint32_t* length) override;
    std::uint32_t AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length) override;
    std::uint32_t AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer, std::uint32_t* length) override;
};

} // namespace ovled
