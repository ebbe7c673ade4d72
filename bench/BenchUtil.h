// Measuring helpers for the benchmarks: run an operation repeatedly and print the distribution of
// its cost. Figures only; nothing here passes or fails.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace ovled::bench {

struct Figures {
    double minimum = 0, median = 0, p90 = 0, mean = 0; // microseconds per operation
    size_t samples = 0;
};

// The distribution of samples already taken (microseconds each).
inline Figures Summarise(std::vector<double> micros)
{
    Figures f;
    f.samples = micros.size();
    if (micros.empty())
        return f;
    std::sort(micros.begin(), micros.end());
    f.minimum = micros.front();
    f.median = micros[micros.size() / 2];
    f.p90 = micros[std::min(micros.size() - 1, micros.size() * 9 / 10)];
    double sum = 0;
    for (double m : micros)
        sum += m;
    f.mean = sum / static_cast<double>(micros.size());
    return f;
}

// Runs `operation` `warmup` times unmeasured, then `samples` times measured one by one.
inline Figures Measure(const std::function<void()>& operation, size_t samples, size_t warmup = 3)
{
    for (size_t i = 0; i < warmup; ++i)
        operation();
    std::vector<double> micros;
    micros.reserve(samples);
    for (size_t i = 0; i < samples; ++i) {
        const auto start = std::chrono::steady_clock::now();
        operation();
        const auto end = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    return Summarise(std::move(micros));
}

inline void Print(const std::string& what, const Figures& f)
{
    std::printf("%-58s n=%-6zu min %10.2f us  median %10.2f us  p90 %10.2f us  mean %10.2f us\n", what.c_str(),
                f.samples, f.minimum, f.median, f.p90, f.mean);
    std::fflush(stdout);
}

} // namespace ovled::bench
