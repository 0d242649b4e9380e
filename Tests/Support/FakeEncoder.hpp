#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "QuibHost/Streaming/PanelEncoder.hpp"
#include "Tests/Support/StreamerEvents.hpp"

namespace quib::testing {

// The video encoder: notes "encoder.forceKeyframe", "encoder.invalidate",
// "encoder.updateRate <bits>", "encoder.prepare <w>x<h> <bits>" (and "encoder.open" when that
// opens a session) and "encoder.encode". Pictures wait until the test finishes them; invalidate
// finishes those still waiting, with no output, before it returns, then runs `duringInvalidate`.
class FakeEncoder final : public PanelEncoder {
public:
    explicit FakeEncoder(StreamerEvents& events) : events_(events) {}

    bool prepare(std::int64_t width, std::int64_t height, std::int64_t bitRate, double) override {
        events_.add("encoder.prepare " + std::to_string(width) + "x" + std::to_string(height) + " " +
                    std::to_string(bitRate));
        std::lock_guard lock(mutex_);
        if (!session_) {
            session_ = true;
            forced_ = true;
            events_.add("encoder.open");
        }
        return true;
    }
    bool encode(std::shared_ptr<const PixelBuffer>, MonoTime, OutputHandler output) override {
        events_.add("encoder.encode");
        std::lock_guard lock(mutex_);
        if (!session_ || refuse) return false;
        pending_.push_back({std::move(output), std::exchange(forced_, false)});
        return true;
    }
    void forceKeyframe() override {
        events_.add("encoder.forceKeyframe");
        std::lock_guard lock(mutex_);
        forced_ = true;
    }
    void invalidate() override {
        events_.add("encoder.invalidate");
        std::vector<Pending> waiting;
        {
            std::lock_guard lock(mutex_);
            session_ = false;
            waiting = std::exchange(pending_, {});
        }
        for (auto& picture : waiting) picture.output(std::nullopt);
        if (duringInvalidate) duringInvalidate();
    }
    void updateRate(std::int64_t bitRate, double) override {
        events_.add("encoder.updateRate " + std::to_string(bitRate));
        std::lock_guard lock(mutex_);
        rates_.push_back(bitRate);
    }

    std::size_t waiting() const {
        std::lock_guard lock(mutex_);
        return pending_.size();
    }
    // Finishes the oldest waiting picture with `bytes` of data: a key frame, with parameter
    // sets, when one was asked for.
    void finish(std::size_t bytes = 100) {
        Pending picture;
        {
            std::lock_guard lock(mutex_);
            picture = std::move(pending_.front());
            pending_.erase(pending_.begin());
        }
        Output output;
        output.data = Bytes(bytes, 0x41);
        output.isKeyframe = picture.key;
        if (picture.key) output.parameterSets = {Bytes{0x67}, Bytes{0x68}};
        picture.output(std::move(output));
    }
    // Finishes the oldest waiting picture as a key frame of `keyBytes` or a delta of `deltaBytes`.
    void finish(std::size_t keyBytes, std::size_t deltaBytes) {
        bool key = false;
        {
            std::lock_guard lock(mutex_);
            key = pending_.front().key;
        }
        finish(key ? keyBytes : deltaBytes);
    }
    // The last rate given; none before any.
    std::optional<std::int64_t> rate() const {
        std::lock_guard lock(mutex_);
        return rates_.empty() ? std::nullopt : std::optional(rates_.back());
    }

    bool refuse = false;
    std::function<void()> duringInvalidate;

private:
    struct Pending {
        OutputHandler output;
        bool key = false;
    };
    StreamerEvents& events_;
    mutable std::mutex mutex_;
    bool session_ = false;
    bool forced_ = true;
    std::vector<Pending> pending_;
    std::vector<std::int64_t> rates_;
};

}  // namespace quib::testing
