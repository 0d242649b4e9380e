#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace quib::testing {

// The frequency of a steady tone in `samples` (one channel), from its rising zero crossings,
// each placed between its two samples: crossings counted over the time from the first to the
// last. None with fewer than two crossings.
inline std::optional<double> toneFrequency(std::span<const float> samples, double sampleRate) {
    std::optional<double> first;
    double last = 0;
    std::size_t crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (!(samples[i - 1] < 0 && samples[i] >= 0)) continue;
        const double at = static_cast<double>(i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]);
        if (!first) first = at;
        last = at;
        ++crossings;
    }
    if (crossings < 2) return std::nullopt;
    return static_cast<double>(crossings - 1) * sampleRate / (last - *first);
}

}  // namespace quib::testing
