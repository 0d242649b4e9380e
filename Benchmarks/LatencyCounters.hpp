#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace quib::bench {

// Sets p50_ms, p95_ms and p99_ms, each after `prefix`, from per-run times in milliseconds
// (nearest rank); sorts them.
inline void reportLatencies(benchmark::State& state, std::vector<double>& millis, const std::string& prefix = "") {
    if (millis.empty()) return;
    std::sort(millis.begin(), millis.end());
    const auto at = [&](double q) { return millis[std::min(millis.size() - 1, std::size_t(q * millis.size()))]; };
    state.counters[prefix + "p50_ms"] = at(0.50);
    state.counters[prefix + "p95_ms"] = at(0.95);
    state.counters[prefix + "p99_ms"] = at(0.99);
}

// Times of single runs, reported as percentiles.
class LatencySamples {
public:
    void add(std::chrono::steady_clock::duration took) {
        millis_.push_back(std::chrono::duration<double, std::milli>(took).count());
    }
    void report(benchmark::State& state) { reportLatencies(state, millis_); }

private:
    std::vector<double> millis_;
};

}  // namespace quib::bench
