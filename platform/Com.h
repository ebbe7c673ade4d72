// COM initialisation of a thread that reaches the firmware. Windows: CoInitialize(NULL) unless a
// multithreaded apartment is asked for; host: nothing.
//  - InitializeComForThread: never undone, for threads that live as long as the process or end without
//    further COM use (the COM threads of callers, the thread that builds the lighting manager).
//  - ComApartment: balanced, for a thread procedure of our own that ends: what the thread held in COM
//    (its firmware connection) is released before the apartment ends.
#pragma once

namespace ovled::platform {

void InitializeComForThread() noexcept;

enum class ApartmentKind {
    SingleThreaded,
    // For a thread that handles messages sent from other processes (the power window): COM refuses
    // outgoing calls from a single-threaded apartment while such a message is being handled, and its
    // waits there deliver sent messages, which would re-enter the window procedure.
    MultiThreaded,
};

class ComApartment {
public:
    explicit ComApartment(ApartmentKind kind = ApartmentKind::SingleThreaded) noexcept;
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_initialized = false;
};

} // namespace ovled::platform
