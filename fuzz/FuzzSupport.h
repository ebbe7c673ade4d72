// Shared pieces of the fuzz targets: a notifier that drops every message (the item model's conversion
// messages would otherwise flood the output).
#pragma once

#include "platform/Notifier.h"

namespace ovled::fuzz {

class SilentNotifier final : public platform::INotifier {
public:
    void Notify(std::wstring_view, std::wstring_view) noexcept override {}
};

inline void InstallSilentNotifier()
{
    static SilentNotifier notifier;
    static platform::ScopedNotifier installed(notifier);
}

} // namespace ovled::fuzz
