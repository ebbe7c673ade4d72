// COM initialisation of a thread that reaches the firmware. Windows: CoInitialize(NULL); host: nothing.
//  - InitializeComForThread: never undone, for threads that live as long as the process or end without
//    further COM use (the COM threads of callers, the thread that builds the lighting manager).
//  - ComApartment: balanced, for a thread procedure of our own that ends: what the thread held in COM
//    (its firmware connection) is released before the apartment ends.
#pragma once

namespace ovled::platform {

void InitializeComForThread() noexcept;

class ComApartment {
public:
    ComApartment() noexcept;
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_initialized = false;
};

} // namespace ovled::platform
