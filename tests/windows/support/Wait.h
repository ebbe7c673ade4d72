// Waiting for a condition that another process brings about (a window appears, a process starts),
// where no event can be waited on: the condition is polled until it holds or the deadline passes.
#pragma once

#include <windows.h>

#include <chrono>

namespace ovled::test {

template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds patience = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        Sleep(10);
    }
    return true;
}

} // namespace ovled::test
