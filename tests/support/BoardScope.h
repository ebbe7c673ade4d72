// BoardScope: one test's own virtual board, installed as the process's hardware for the life of the
// object: the firmware transport, a fresh item registry over it, an EcPort over the board's embedded
// controller (its 1 ms pauses go to a stepped clock and are only counted) and a fresh LED configuration
// file in a temporary folder. Every Instance() accessor of the hardware layer answers with these.
//     test::BoardScope scope(sim::Profile::NoSwitch);
//     BiosItemRegistry::Instance()->Get(items::kOnboardEffect)->SetValueEx(1, 1);
//     EXPECT_EQ(scope.Model().Onboard().effectCode, 1);
#pragma once

#include "hardware/BiosItemRegistry.h"
#include "hardware/EcPort.h"
#include "hardware/FirmwareTransport.h"
#include "lighting/LedConfigFile.h"
#include "platform/Singleton.h"
#include "simulator/VirtualBoard.h"
#include "tests/support/SteppedClock.h"
#include "tests/support/TempFolder.h"

namespace ovled::test {

class BoardScope {
public:
    explicit BoardScope(sim::Profile profile = sim::Profile::SwitchAndStrips);
    BoardScope(const BoardScope&) = delete;
    BoardScope& operator=(const BoardScope&) = delete;

    sim::VirtualBoard& Board() noexcept { return m_board; }
    sim::BoardModel& Model() noexcept { return m_board.Model(); }
    BiosItemRegistry& Registry() noexcept { return m_registry; }
    EcPort& Ec() noexcept { return m_ec; }
    SteppedClock& Clock() noexcept { return m_clock; }
    LedConfigFile& Config() noexcept { return m_config; }
    const TempFolder& Folder() const noexcept { return m_folder; }

private:
    TempFolder m_folder;
    SteppedClock m_clock;
    sim::VirtualBoard m_board;
    BiosItemRegistry m_registry;
    EcPort m_ec;
    LedConfigFile m_config;
    platform::ScopedInstanceOverride<IFirmwareTransport> m_useFirmware;
    platform::ScopedInstanceOverride<BiosItemRegistry> m_useRegistry;
    platform::ScopedInstanceOverride<EcPort> m_useEc;
    platform::ScopedInstanceOverride<LedConfigFile> m_useConfig;
};

} // namespace ovled::test
