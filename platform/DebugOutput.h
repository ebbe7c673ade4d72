// The debug-output channel (OutputDebugStringW on Windows, standard error on the host, or a test's
// recorder). Used for the colour thread's per-tick line and for notifier texts in service mode.
#pragma once

#include <string_view>

namespace ovled::platform {

class IDebugOutput {
public:
    virtual ~IDebugOutput() = default;
    virtual void Write(std::wstring_view text) noexcept = 0;
};

IDebugOutput& DebugOutput() noexcept;

class ScopedDebugOutput {
public:
    explicit ScopedDebugOutput(IDebugOutput& output) noexcept;
    ~ScopedDebugOutput();
    ScopedDebugOutput(const ScopedDebugOutput&) = delete;
    ScopedDebugOutput& operator=(const ScopedDebugOutput&) = delete;

private:
    IDebugOutput* m_previous;
};

} // namespace ovled::platform
