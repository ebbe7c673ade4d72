// ProcessRoot: the one place the process's shared objects come from. The process entry builds one root
// (devices/Process) and each test fixture builds its own; while a root lives it is the process's root, for
// the entry points that the system constructs (the COM object). A library sees the root through an
// interface of its own (lighting: ILightingRoot), which the concrete root implements; nothing else
// installs anything. Built and destroyed on one thread; Current() may be called from any thread.
#pragma once

namespace ovled::platform {

class ProcessRoot {
public:
    ProcessRoot(const ProcessRoot&) = delete;
    ProcessRoot& operator=(const ProcessRoot&) = delete;

    // The root in force, or null when none has been built.
    static ProcessRoot* Current() noexcept;

    // The root in force as the interface a library asks it for; null when there is no root or it does
    // not serve that library.
    template <class Interface>
    static Interface* CurrentAs() noexcept
    {
        return dynamic_cast<Interface*>(Current());
    }

protected:
    ProcessRoot() noexcept = default;
    // Uninstalls the root if the concrete root has not done so.
    virtual ~ProcessRoot();

    // The concrete root calls Install once it is fully built, and Uninstall first thing in its destructor,
    // so no thread ever finds a root half built or half destroyed. The root it replaces comes back when
    // this one is uninstalled (a test may build a root while another lives).
    void Install() noexcept;
    void Uninstall() noexcept;

private:
    bool m_installed = false;
    ProcessRoot* m_previous = nullptr;
};

} // namespace ovled::platform
