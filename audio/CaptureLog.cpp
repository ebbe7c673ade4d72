#include "audio/CaptureLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace ovled {
namespace {

class StandardOutputLog final : public ICaptureLog {
public:
    void Print(std::string_view text) noexcept override
    {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
};

std::atomic<ICaptureLog*> g_log{nullptr};

} // namespace

ICaptureLog& CaptureLog() noexcept
{
    static StandardOutputLog standardOutput;
    ICaptureLog* installed = g_log.load();
    return installed ? *installed : standardOutput;
}

void CapturePrint(const char* format, ...) noexcept
{
    va_list arguments;
    va_start(arguments, format);
    CaptureVPrint(format, arguments);
    va_end(arguments);
}

void CaptureVPrint(const char* format, va_list arguments) noexcept
{
    // Every message of the capture is one short line.
    char text[512];
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    if (length < 0)
        return;
    const std::size_t written = static_cast<std::size_t>(length);
    CaptureLog().Print(std::string_view(text, written < sizeof text ? written : sizeof text - 1));
}

ScopedCaptureLog::ScopedCaptureLog(ICaptureLog& log) noexcept : m_previous(g_log.exchange(&log)) {}
ScopedCaptureLog::~ScopedCaptureLog()
{
    g_log.store(m_previous);
}

} // namespace ovled
