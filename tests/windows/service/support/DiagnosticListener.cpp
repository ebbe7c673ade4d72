#include "tests/windows/service/support/DiagnosticListener.h"

#include "service/win32/Diagnostics.h"

#include <stdexcept>

namespace ovled::test {
namespace {

HANDLE CreateInstance()
{
    return CreateNamedPipeW(win32::kDiagnosticPipeName, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 0, 8192, 0,
                            nullptr);
}

} // namespace

DiagnosticListener::DiagnosticListener()
{
    // The first instance exists before the constructor returns, so nothing sent afterwards is lost.
    m_listening.reset(CreateInstance());
    if (m_listening.get() == INVALID_HANDLE_VALUE) {
        m_listening.release();
        throw std::runtime_error("cannot create the diagnostic pipe");
    }
    m_stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_thread = std::thread([this] { Run(); });
}

DiagnosticListener::~DiagnosticListener()
{
    SetEvent(m_stop.get());
    m_thread.join();
}

// Reads what one sender wrote, until it closes its end.
void DiagnosticListener::Drain(HANDLE pipe)
{
    win32::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (;;) {
        wchar_t buffer[4096];
        OVERLAPPED overlapped{};
        overlapped.hEvent = done.get();
        DWORD read = 0;
        if (!ReadFile(pipe, buffer, sizeof(buffer), nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING)
            return;
        if (!GetOverlappedResult(pipe, &overlapped, &read, TRUE) || read == 0)
            return;
        Add(std::wstring(buffer, read / sizeof(wchar_t)));
    }
}

void DiagnosticListener::Run()
{
    win32::UniqueHandle connectedEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    while (m_listening) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = connectedEvent.get();
        ResetEvent(connectedEvent.get());
        bool connected = ConnectNamedPipe(m_listening.get(), &overlapped) != FALSE;
        if (!connected) {
            const DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                const HANDLE waits[] = {connectedEvent.get(), m_stop.get()};
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    CancelIo(m_listening.get());
                    return;
                }
                DWORD ignored = 0;
                connected = GetOverlappedResult(m_listening.get(), &overlapped, &ignored, FALSE) != FALSE;
            } else {
                // A sender may connect as soon as the instance exists, and may even have written and
                // gone again (ERROR_NO_DATA); what it wrote is still there to read.
                connected = error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA;
            }
        }
        win32::UniqueHandle current(m_listening.release());
        // Another instance listens while this one is read, so a sender never finds no pipe at all.
        m_listening.reset(CreateInstance());
        if (m_listening.get() == INVALID_HANDLE_VALUE)
            m_listening.release();
        if (connected) {
            Drain(current.get());
            DisconnectNamedPipe(current.get());
        }
    }
}

void DiagnosticListener::Add(const std::wstring& line)
{
    DiagnosticLine parsed;
    const size_t first = line.find(L' ');
    const size_t second = first == std::wstring::npos ? std::wstring::npos : line.find(L' ', first + 1);
    if (second == std::wstring::npos)
        return;
    parsed.processId = static_cast<DWORD>(std::wcstoul(line.substr(0, first).c_str(), nullptr, 10));
    parsed.kind = line.substr(first + 1, second - first - 1);
    parsed.text = line.substr(second + 1);
    std::lock_guard lock(m_mutex);
    m_lines.push_back(std::move(parsed));
    m_changed.notify_all();
}

std::vector<DiagnosticLine> DiagnosticListener::Lines()
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

std::vector<std::wstring> DiagnosticListener::Texts(DWORD processId)
{
    std::vector<std::wstring> texts;
    for (const auto& line : Lines()) {
        if (processId == 0 || line.processId == processId)
            texts.push_back(line.kind + L" " + line.text);
    }
    return texts;
}

DiagnosticLine DiagnosticListener::WaitFor(const std::wstring& kind, const std::wstring& text,
                                           std::chrono::milliseconds patience)
{
    std::unique_lock lock(m_mutex);
    DiagnosticLine found;
    m_changed.wait_for(lock, patience, [&] {
        for (const auto& line : m_lines) {
            if (line.kind == kind && line.text == text) {
                found = line;
                return true;
            }
        }
        return false;
    });
    return found;
}

void DiagnosticListener::Clear()
{
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}

} // namespace ovled::test
