// VirtualBoard: the board in process. It answers the firmware transport with the bridge's exact
// semantics over the board model (so host tests use it where the service would use the automation
// bridge) and the port-I/O seam with the board's embedded controller, so a root (devices/Process) can be
// built over it as the service's is over the bridge and "ovio.dll". Thread-safe.
//     sim::VirtualBoard board(sim::Profile::SwitchAndStrips);
//     Board hardware(board, board, clock);   // firmware transport and port I/O
#pragma once

#include "hardware/FirmwareTransport.h"
#include "hardware/PortIo.h"
#include "simulator/BoardModel.h"

#include <mutex>

namespace ovled::sim {

// How the port-I/O library behaves when it is loaded (in process; the Windows DLL has real variants).
struct PortLibraryBehaviour {
    std::uint32_t failingLoads = 0; // the next N loads fail as if the library were missing
    bool openMissing = false;        // "OVIO_Open" is not exported
    bool openFails = false;          // "OVIO_Open"(0) returns 0
    bool byteAccessMissing = false;  // "OVIO_OutPortB"/"OVIO_InPortB" are not exported
};

class VirtualBoard final : public IFirmwareTransport, public IPortIo {
public:
    explicit VirtualBoard(Profile profile = Profile::SwitchAndStrips,
                          platform::IWaitClock& clock = platform::SystemClock());

    BoardModel& Model() noexcept { return m_model; }

    // IFirmwareTransport
    std::uint32_t AcpiInit() override;
    std::uint32_t AcpiGetItem(std::uint32_t id, std::uint32_t* value) override;
    std::uint32_t AcpiGetItemEx(std::uint32_t id, std::uint32_t parameter, std::uint32_t* value) override;
    std::uint32_t AcpiSetItem(std::uint32_t id, std::uint32_t value, std::uint32_t flags) override;
    std::uint32_t AcpiSetItemBuffer(std::uint32_t ignored, std::uint32_t id, std::uint8_t* buffer,
                                    std::uint32_t* length) override;
    std::uint32_t AcpiMbif(std::uint8_t* buffer, std::uint32_t* length) override;
    std::uint32_t AcpiGGrp(std::uint32_t group, std::uint8_t* buffer, std::uint32_t* length) override;
    std::uint32_t AcpiCallMethod(const std::uint32_t* selector, std::uint8_t* buffer, std::uint32_t* length) override;

    // IPortIo
    std::int32_t Load() override;
    bool HasPortAccess() override;
    void OutPortB(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t InPortB(std::uint16_t port) override;

    void SetPortLibrary(const PortLibraryBehaviour& behaviour);
    std::uint32_t PortLibraryLoads();
    std::uint32_t PortLibraryOpens();

private:
    template <class Serve>
    std::uint32_t BufferCall(std::uint8_t* buffer, std::uint32_t* length, Serve&& serve);

    LocalBoardStore m_store;
    BoardModel m_model;
    std::mutex m_libraryMutex;
    PortLibraryBehaviour m_library;
    std::uint32_t m_loads = 0;
    std::uint32_t m_opens = 0;
};

} // namespace ovled::sim
