#pragma once

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>

#include "QuibHost/Streaming/PanelCapture.hpp"
#include "Tests/Support/StreamerEvents.hpp"

namespace quib::testing {

// The window capture: notes what it is asked ("capture.start <bundle> <window> <w>x<h> <crop>",
// "capture.stop", "capture.requestFrame") and says what the test makes it say.
class FakeCapture final : public PanelCapture {
public:
    FakeCapture(StreamerEvents& events, FrameHandler onFrame, StateHandler onState)
        : events_(events), onFrame_(std::move(onFrame)), onState_(std::move(onState)) {}

    void start(std::optional<std::string> bundleID, std::optional<std::uint32_t> windowID, std::int64_t maxWidth,
               std::int64_t maxHeight, const Rect& crop) override {
        std::ostringstream line;
        line << "capture.start " << bundleID.value_or("-") << " " << (windowID ? std::to_string(*windowID) : "-") << " "
             << maxWidth << "x" << maxHeight << " " << crop.x << "," << crop.y << "," << crop.width << "," << crop.height;
        events_.add(line.str());
    }
    void stop() override { events_.add("capture.stop"); }
    void requestFrame() override { events_.add("capture.requestFrame"); }
    std::optional<Rect> windowFrame() const override { return std::nullopt; }
    std::int64_t currentGeneration() const override { return 0; }

    void say(const std::string& reason, bool canOpen) { onState_(reason, canOpen); }
    void deliver() { onFrame_(nullptr, MonoTime(), Rect{0, 0, 1, 1}, 0); }

private:
    StreamerEvents& events_;
    FrameHandler onFrame_;
    StateHandler onState_;
};

}  // namespace quib::testing
