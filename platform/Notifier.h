// The one channel for messages that the service would show in a message box. Nothing that reaches
// it may block a service thread: in service mode the text goes to the debug output, interactive
// registration shows a real box, and tests install a recording notifier.
#pragma once

#include <string_view>

namespace ovled::platform {

class INotifier {
public:
    virtual ~INotifier() = default;
    virtual void Notify(std::wstring_view text, std::wstring_view caption) noexcept = 0;
};

// The notifier in force: the installed one, else the platform default (debug output).
INotifier& Notifier() noexcept;

// Installs a notifier for the life of the object (tests; the service's interactive registration).
class ScopedNotifier {
public:
    explicit ScopedNotifier(INotifier& notifier) noexcept;
    ~ScopedNotifier();
    ScopedNotifier(const ScopedNotifier&) = delete;
    ScopedNotifier& operator=(const ScopedNotifier&) = delete;

private:
    INotifier* m_previous;
};

} // namespace ovled::platform
