// The virtual board's automation server for a Windows test: registered from beside the test executable
// and started for the life of the object, then stopped and unregistered; the shared board it serves is
// reset to a profile and open for inspection. COM must be initialised on the constructing thread.
#pragma once

#include "simulator/BoardModel.h"
#include "simulator/win32/ServerRegistration.h"
#include "simulator/win32/SharedBoardStore.h"

#include <memory>

namespace ovled::test {

class VirtualServer {
public:
    explicit VirtualServer(sim::Profile profile = sim::Profile::SwitchAndStrips)
    {
        m_registered = SUCCEEDED(sim::RegisterAcpiServer(sim::ServerBesideThisExecutable()));
        m_store = sim::SharedBoardStore::Open();
        if (m_store) {
            m_board = std::make_unique<sim::BoardModel>(*m_store);
            m_board->Reset(profile);
        }
        m_started = m_registered && m_board && SUCCEEDED(sim::StartAcpiServer());
    }
    ~VirtualServer()
    {
        if (m_started)
            (void)sim::StopAcpiServer();
        if (m_registered)
            (void)sim::UnregisterAcpiServer();
    }
    VirtualServer(const VirtualServer&) = delete;
    VirtualServer& operator=(const VirtualServer&) = delete;

    // Registered, the board open, the server running.
    bool Ready() const noexcept { return m_started; }
    sim::BoardModel& Board() { return *m_board; }

private:
    bool m_registered = false;
    bool m_started = false;
    std::unique_ptr<sim::SharedBoardStore> m_store;
    std::unique_ptr<sim::BoardModel> m_board;
};

} // namespace ovled::test
