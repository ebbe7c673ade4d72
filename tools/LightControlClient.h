// The two ways of calling LightControl's ModeByIndex from a client: early-bound through the type
// library's vtable and late-bound through IDispatch, as scripts call it. Used by ovledctl and the soak
// tool; one object per thread, created and called in that thread's apartment.
#pragma once

#include "platform/win32/Unique.h"

#include <windows.h>

#include <OvLedService_h.h>

#include <memory>

namespace ovled::tools {

class LightControlClient {
public:
    virtual ~LightControlClient() = default;
    virtual HRESULT Get(short index, short& mode) = 0;
    virtual HRESULT Set(short index, short mode) = 0;
    // The object's IDispatch (the dual interface itself when early-bound), for calls of one's own making.
    virtual IDispatch* Dispatch() noexcept = 0;
};

// Creates a LightControl object in the server (the running service, or a local server that COM starts)
// and wraps the interface the client calls through. `client` stays empty when the creation fails.
HRESULT ConnectLightControl(bool lateBound, std::unique_ptr<LightControlClient>& client);

} // namespace ovled::tools
