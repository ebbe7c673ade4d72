// Cost of the hardware layer's basic operations against the virtual board: one firmware call through
// the transport, one item write through the registry, one embedded-controller register write.
#include "bench/BenchUtil.h"
#include "bench/HardwareBench.h"
#include "hardware/BiosItemRegistry.h"
#include "hardware/EcPort.h"
#include "hardware/ItemIds.h"
#include "simulator/VirtualBoard.h"

#include <cstdio>

namespace ovled::bench {
namespace {

void RunInProcessBenchmarks()
{
    std::printf("In process, virtual board (the model's own cost, no bridge):\n");
    sim::VirtualBoard board;
    std::uint32_t value = 0;
    Print("transport AcpiGetItem", Measure([&] { board.AcpiGetItem(items::kStripSelector, &value); }, 20000));
    Print("transport AcpiSetItem", Measure([&] { board.AcpiSetItem(items::kOnboardEffect, 0x0000FF01, 1); }, 20000));

    BiosItemRegistry registry(board);
    Print("registry: first lookup (loads group 0x13)", Measure([&] {
              BiosItemRegistry fresh(board);
              fresh.Get(items::kOnboardSwitch);
          },
              200));
    registry.Get(items::kOnboardSwitch);
    Print("registry: lookup in a loaded group", Measure([&] { registry.Exists(items::kOnboardSwitch); }, 20000));
    BiosItem* colour = registry.Get(items::kStripColor);
    Print("item SetValueEx through the registry", Measure([&] { colour->SetValueEx(0x00112233, 3); }, 20000));

    // A controller that is never busy: the figure is the protocol's port traffic, no pauses.
    EcPort port(board, platform::SystemClock());
    Print("EC register write (bank select + write, 18 port accesses)",
          Measure([&] { port.WriteRegister(0, ec::kRedRegister, 0x40); }, 20000));
    Print("EC register read", Measure([&] { port.ReadRegister(0, ec::kRedRegister); }, 20000));
}

} // namespace
} // namespace ovled::bench

int main()
{
    ovled::bench::RunInProcessBenchmarks();
    ovled::bench::RunPlatformBenchmarks();
    return 0;
}
