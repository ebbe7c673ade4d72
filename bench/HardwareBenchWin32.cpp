// The real bridge against the out-of-process virtual server, and the register write through ovio.dll.
#include "bench/BenchUtil.h"
#include "bench/HardwareBench.h"
#include "hardware/EcPort.h"
#include "hardware/ItemIds.h"
#include "hardware/win32/AcpiBridge.h"
#include "hardware/win32/HeldConnection.h"
#include "hardware/win32/PortIoLibrary.h"
#include "platform/win32/Unique.h"
#include "simulator/BoardModel.h"
#include "simulator/win32/ServerRegistration.h"
#include "simulator/win32/SharedBoardStore.h"

#include <cstdio>
#include <memory>

namespace ovled::bench {

void RunPlatformBenchmarks()
{
    // As the service's threads do (CoInitialize): a single-threaded apartment.
    win32::ScopedComInit com(COINIT_APARTMENTTHREADED);
    if (FAILED(sim::RegisterAcpiServer(sim::ServerBesideThisExecutable())) || FAILED(sim::StartAcpiServer())) {
        std::printf("the virtual automation server could not be registered or started\n");
        return;
    }
    std::printf("Out of process, the bridge against the running virtual server (create, name lookup, "
                "invoke, release per call):\n");
    std::uint32_t value = 0;
    Print("bridge AcpiGetItem", Measure([&] { AcpiGetItem(items::kStripSelector, &value); }, 200));
    const Figures perCall = Measure([&] { AcpiSetItem(items::kOnboardEffect, 0x0000FF01, 1); }, 200);
    Print("bridge AcpiSetItem", perCall);
    Print("music tick for one strip (select + colour: 2 bridge calls)", Measure([&] {
              AcpiSetItem(items::kStripSelector, 0, 3);
              AcpiSetItem(items::kStripColor, 0x00112233, 3);
          },
              100));
    std::uint8_t buffer[4096];
    Print("bridge AcpiGGrp (4096-byte buffer both ways)", Measure([&] {
              std::uint32_t length = sizeof buffer;
              AcpiGGrp(items::kLedGroup, buffer, &length);
          },
              100));

    std::printf("The service's threads: a connection held for the session (one server, names looked up once):\n");
    {
        HeldAutomationTransport firmware;
        const auto session = firmware.Begin();
        const Figures held = Measure([&] { firmware.AcpiSetItem(items::kOnboardEffect, 0x0000FF01, 1); }, 1000);
        Print("held AcpiSetItem", held);
        Print("held AcpiGetItem", Measure([&] { firmware.AcpiGetItem(items::kStripSelector, &value); }, 1000));
        Print("held music tick for one strip (select + colour)", Measure([&] {
                  firmware.AcpiSetItem(items::kStripSelector, 0, 3);
                  firmware.AcpiSetItem(items::kStripColor, 0x00112233, 3);
              },
                  500));
        std::printf("    per-call activation / held connection (AcpiSetItem, medians): %.1f times\n",
                    held.median > 0 ? perCall.median / held.median : 0.0);
    }

    std::printf("Where the time goes:\n");
    CLSID clsid{};
    Print("  ProgID lookup only", Measure([&] { CLSIDFromProgID(kAcpiServerProgId, &clsid); }, 200));
    Print("  create + release only", Measure([&] {
              win32::ComPtr<IDispatch> server;
              CreateAcpiServer(kAcpiServerProgId, server.put());
          },
              100));
    win32::ComPtr<IDispatch> held;
    if (SUCCEEDED(CreateAcpiServer(kAcpiServerProgId, held.put()))) {
        VARIANT arguments[3];
        for (VARIANT& v : arguments) {
            VariantInit(&v);
            v.vt = VT_UI4;
        }
        arguments[0].ulVal = items::kOnboardEffect;
        arguments[1].ulVal = 0x0000FF01;
        arguments[2].ulVal = 1;
        Print("  name lookup + invoke on a held server", Measure([&] {
                  win32::UniqueVariant result;
                  InvokeByName(DISPATCH_METHOD, result.get(), held.get(), L"iAcpiSetItem", 3, arguments);
              },
                  200));
        // The method's dispatch id looked up once, as a held connection does: what is left is the
        // round trip through RPC plus the server's own work (below).
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR name = const_cast<LPOLESTR>(L"iAcpiSetItem");
        if (SUCCEEDED(held->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) {
            VARIANT reversed[3] = {arguments[2], arguments[1], arguments[0]};
            DISPPARAMS parameters{reversed, nullptr, 3, 0};
            Print("  invoke on a held server (dispatch id known)", Measure([&] {
                      win32::UniqueVariant result;
                      held->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, result.get(),
                                   nullptr, nullptr);
                  },
                      200));
        }
        held.reset();
    }

    // What the server does for one call, without RPC: the board's share of a call.
    if (std::unique_ptr<sim::SharedBoardStore> store = sim::SharedBoardStore::Open()) {
        sim::BoardModel board(*store);
        std::printf("The shared board's own work (in this process, no RPC):\n");
        Print("  iAcpiSetItem's work on the shared board (strip colour)",
              Measure([&] { board.SetItem(items::kStripColor, 0x00112233, 3); }, 2000));
        Print("  the shared board's lock, taken and released", Measure([&] { board.With([](sim::BoardState&) {}); },
                                                                       5000));
    }

    PortIoLibrary library;
    EcPort port(library, platform::SystemClock());
    port.LoadPortLibrary();
    std::printf("Embedded controller through ovio.dll (shared board, controller never busy):\n");
    Print("EC register write (bank select + write)",
          Measure([&] { port.WriteRegister(0, ec::kRedRegister, 0x40); }, 5000));
    Print("EC onboard colour (three register writes)", Measure([&] {
              port.WriteRegister(0, ec::kBlueRegister, 1);
              port.WriteRegister(0, ec::kGreenRegister, 2);
              port.WriteRegister(0, ec::kRedRegister, 3);
          },
              2000));

    sim::StopAcpiServer();
    sim::UnregisterAcpiServer();
}

} // namespace ovled::bench
