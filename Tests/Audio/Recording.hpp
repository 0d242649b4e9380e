#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/PcmBuffer.hpp"

namespace quib::testing {

// What a capture handed out: the left channel of every 32-bit float interleaved buffer, whether
// any buffer had another format or more than 1024 frames, and the state texts. Safe on any
// thread; tests wait on it.
class Recording {
public:
    void add(const PcmBuffer& buffer);
    void addState(const std::string& text);

    // Waits until `done` holds for the recording, at most `timeout`.
    bool waitFor(std::chrono::milliseconds timeout, const std::function<bool(const Recording&)>& done);

    // With the lock held by waitFor, or after capture ended:
    std::size_t buffers() const { return buffers_; }
    const std::vector<float>& left() const { return left_; }
    bool sawOtherFormat() const { return otherFormat_; }
    bool sawLongBuffer() const { return longBuffer_; }

    const std::vector<std::string>& states() const { return states_; }
    // Samples from the first one louder than a whisper on.
    std::size_t audibleSamples() const;
    // The frequency of the last `count` samples.
    std::optional<double> frequencyOfLast(std::size_t count) const;

    // Forgets what was recorded so far.
    void clear();
    // Runs `look` with the lock held.
    void inspect(const std::function<void(const Recording&)>& look);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t buffers_ = 0;
    std::vector<float> left_;
    bool otherFormat_ = false;
    bool longBuffer_ = false;
    std::vector<std::string> states_;
};

}  // namespace quib::testing
