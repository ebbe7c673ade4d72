// The audio capture's message channel: every diagnostic of the capture goes to standard output through
// CapturePrint, and tests install a recorder to read them. Any thread; the default writes whole lines
// under the C runtime's stream lock.
#pragma once

#include <cstdarg>
#include <string_view>

namespace ovled {

class ICaptureLog {
public:
    virtual ~ICaptureLog() = default;
    virtual void Print(std::string_view text) noexcept = 0;
};

ICaptureLog& CaptureLog() noexcept;

// printf-style; the text goes to CaptureLog() as formatted (line ends only where the format has them).
void CapturePrint(const char* format, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void CaptureVPrint(const char* format, va_list arguments) noexcept;

class ScopedCaptureLog {
public:
    explicit ScopedCaptureLog(ICaptureLog& log) noexcept;
    ~ScopedCaptureLog();
    ScopedCaptureLog(const ScopedCaptureLog&) = delete;
    ScopedCaptureLog& operator=(const ScopedCaptureLog&) = delete;

private:
    ICaptureLog* m_previous;
};

} // namespace ovled
