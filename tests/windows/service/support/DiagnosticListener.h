// Listens on the service host's diagnostic pipe for the life of the object and keeps every line that
// any process of the executable sends ("<pid> <kind> <text>"). Tests wait for lines with a deadline.
#pragma once

#include "platform/win32/Unique.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ovled::test {

struct DiagnosticLine {
    DWORD processId = 0;
    std::wstring kind; // "status", "event" or "notice"
    std::wstring text;
};

class DiagnosticListener {
public:
    DiagnosticListener();
    ~DiagnosticListener();
    DiagnosticListener(const DiagnosticListener&) = delete;
    DiagnosticListener& operator=(const DiagnosticListener&) = delete;

    std::vector<DiagnosticLine> Lines();
    // "kind text" of every line, optionally only those of one process.
    std::vector<std::wstring> Texts(DWORD processId = 0);
    // Waits until a line of `kind` with exactly `text` has arrived; returns it, or an empty line (process
    // id 0) after `patience`.
    DiagnosticLine WaitFor(const std::wstring& kind, const std::wstring& text,
                           std::chrono::milliseconds patience = std::chrono::seconds(30));
    void Clear();

private:
    void Run();
    void Drain(HANDLE pipe);
    void Add(const std::wstring& line);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<DiagnosticLine> m_lines;
    win32::UniqueHandle m_stop;
    win32::UniqueHandle m_listening; // the instance that waits for the next sender
    std::thread m_thread;
};

} // namespace ovled::test
