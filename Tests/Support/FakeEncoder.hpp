#pragma once

#include <cstdint>
#include <string>

#include "QuibHost/Streaming/PanelEncoder.hpp"
#include "Tests/Support/StreamerEvents.hpp"

namespace quib::testing {

// The video encoder: notes "encoder.forceKeyframe", "encoder.invalidate" and
// "encoder.updateRate <bits>".
class FakeEncoder final : public PanelEncoder {
public:
    explicit FakeEncoder(StreamerEvents& events) : events_(events) {}
    void forceKeyframe() override { events_.add("encoder.forceKeyframe"); }
    void invalidate() override { events_.add("encoder.invalidate"); }
    void updateRate(std::int64_t bitRate, double) override { events_.add("encoder.updateRate " + std::to_string(bitRate)); }

private:
    StreamerEvents& events_;
};

}  // namespace quib::testing
