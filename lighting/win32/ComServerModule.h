// The server module as the COM objects see it: the locks that keep the server process alive while
// clients hold objects or have locked the class factory. The service module installs itself as the
// current module when it is constructed; without one (a test that builds objects in process) the
// objects take no locks. Any thread may call.
#pragma once

namespace ovled::win32 {

class IComServerModule {
public:
    virtual ~IComServerModule() = default;
    virtual long AddLock() noexcept = 0;
    virtual long ReleaseLock() noexcept = 0;
};

IComServerModule* CurrentModule() noexcept;
// Installs `module` as the current module (null removes it); returns the previous one.
IComServerModule* SetCurrentModule(IComServerModule* module) noexcept;

// One module lock for the life of the object.
class ModuleLock {
public:
    ModuleLock() noexcept : m_module(CurrentModule())
    {
        if (m_module)
            m_module->AddLock();
    }
    ~ModuleLock()
    {
        if (m_module)
            m_module->ReleaseLock();
    }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;

private:
    IComServerModule* m_module;
};

} // namespace ovled::win32
