#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace quib::testing {

// The frequency of a steady tone in `samples` (one channel), from the median time between its
// rising zero crossings, each placed between its two samples. The median, not the mean over the
// whole stretch, so that a short gap (a busy machine's sound server skipping or repeating a few
// milliseconds) does not move the pitch the rest of the stretch has. None with fewer than three
// crossings.
inline std::optional<double> toneFrequency(std::span<const float> samples, double sampleRate) {
    std::vector<double> crossings;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (!(samples[i - 1] < 0 && samples[i] >= 0)) continue;
        crossings.push_back(static_cast<double>(i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]));
    }
    if (crossings.size() < 3) return std::nullopt;
    std::vector<double> periods;
    periods.reserve(crossings.size() - 1);
    for (std::size_t i = 1; i < crossings.size(); ++i) periods.push_back(crossings[i] - crossings[i - 1]);
    const auto middle = periods.begin() + static_cast<std::ptrdiff_t>(periods.size() / 2);
    std::nth_element(periods.begin(), middle, periods.end());
    return sampleRate / *middle;
}

}  // namespace quib::testing
