// ovio.dll: the virtual board's port-I/O library. Byte reads and writes of I/O ports go to the shared
// board's embedded controller. Built in variants that lack an entry point or fail to open, so the
// loader's handling of a broken library can be tested against real DLLs:
//   OVIO_WITHOUT_OPEN, OVIO_WITHOUT_BYTE_ACCESS, OVIO_OPEN_FAILS
#include "simulator/BoardModel.h"
#include "simulator/win32/SharedBoardStore.h"

#include <windows.h>

#include <memory>
#include <mutex>

namespace {

struct SharedBoard {
    std::unique_ptr<ovled::sim::SharedBoardStore> store;
    std::unique_ptr<ovled::sim::BoardModel> model;
};

// Opened on first use and kept for the life of the process that loaded the library.
ovled::sim::BoardModel* Board()
{
    static std::once_flag once;
    static SharedBoard board;
    std::call_once(once, [] {
        board.store = ovled::sim::SharedBoardStore::Open();
        if (!board.store)
            return;
        board.model = std::make_unique<ovled::sim::BoardModel>(*board.store);
        board.model->EnsureValid(ovled::sim::Profile::SwitchAndStrips);
    });
    return board.model.get();
}

} // namespace

extern "C" {

#if !defined(OVIO_WITHOUT_OPEN)
__declspec(dllexport) DWORD WINAPI OVIO_Open(DWORD)
{
#if defined(OVIO_OPEN_FAILS)
    return 0;
#else
    try {
        auto* board = Board();
        return board && !board->GetFaults().portIoFails ? 1 : 0;
    } catch (...) {
        return 0;
    }
#endif
}
#endif

#if !defined(OVIO_WITHOUT_BYTE_ACCESS)
__declspec(dllexport) void WINAPI OVIO_OutPortB(DWORD port, DWORD value)
{
    try {
        if (auto* board = Board())
            board->OutPortB(static_cast<std::uint16_t>(port), static_cast<std::uint8_t>(value));
    } catch (...) {
    }
}

__declspec(dllexport) DWORD WINAPI OVIO_InPortB(DWORD port)
{
    try {
        auto* board = Board();
        return board ? board->InPortB(static_cast<std::uint16_t>(port)) : 0xFF;
    } catch (...) {
        return 0xFF;
    }
}
#endif

} // extern "C"
