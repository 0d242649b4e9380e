#include "Tests/Audio/Recording.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

#include "Tests/Support/ToneFrequency.hpp"

namespace quib::testing {

void Recording::add(const PcmBuffer& buffer) {
    std::lock_guard lock(mutex_);
    ++buffers_;
    if (buffer.frames > 1024) longBuffer_ = true;
    if (buffer.format != PcmFormat{48000, 2, PcmFormat::Sample::float32, true}) {
        otherFormat_ = true;
    } else {
        for (std::int64_t frame = 0; frame < buffer.frames; ++frame) {
            float left = 0;
            std::memcpy(&left, buffer.planes[0] + frame * 8, sizeof left);
            left_.push_back(left);
        }
    }
    changed_.notify_all();
}

void Recording::addState(const std::string& text) {
    std::lock_guard lock(mutex_);
    states_.push_back(text);
    changed_.notify_all();
}

bool Recording::waitFor(std::chrono::milliseconds timeout, const std::function<bool(const Recording&)>& done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(*this); });
}

std::size_t Recording::audibleSamples() const {
    const auto first = std::find_if(left_.begin(), left_.end(), [](float sample) { return std::fabs(sample) > 0.01f; });
    return static_cast<std::size_t>(left_.end() - first);
}

std::optional<double> Recording::frequencyOfLast(std::size_t count) const {
    const std::size_t take = std::min(count, left_.size());
    return toneFrequency(std::span<const float>(left_).last(take), 48000);
}

void Recording::clear() {
    std::lock_guard lock(mutex_);
    buffers_ = 0;
    left_.clear();
    states_.clear();
}

void Recording::inspect(const std::function<void(const Recording&)>& look) {
    std::lock_guard lock(mutex_);
    look(*this);
}

}  // namespace quib::testing
