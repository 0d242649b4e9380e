#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include "QuibHost/Streaming/PanelCapture.hpp"
#include "Tests/Support/StreamerEvents.hpp"

namespace quib::testing {

// The window capture: notes what it is asked ("capture.start <bundle> <window> <w>x<h> <crop>",
// "capture.stop", "capture.requestFrame"), says what the test makes it say and reads what the
// test sets.
class FakeCapture final : public PanelCapture {
public:
    FakeCapture(StreamerEvents& events, FrameHandler onFrame, StateHandler onState)
        : events_(events), onFrame_(std::move(onFrame)), onState_(std::move(onState)) {}

    void start(std::optional<std::string> bundleID, std::optional<std::uint32_t> windowID, std::int64_t maxWidth,
               std::int64_t maxHeight, const Rect& crop) override {
        std::ostringstream line;
        line << "capture.start " << bundleID.value_or("-") << " " << (windowID ? std::to_string(*windowID) : "-") << " "
             << maxWidth << "x" << maxHeight << " " << crop.x << "," << crop.y << "," << crop.width << ","
             << crop.height;
        events_.add(line.str());
    }
    void stop() override { events_.add("capture.stop"); }
    void requestFrame() override { events_.add("capture.requestFrame"); }
    std::optional<Rect> windowFrame() const override {
        std::lock_guard lock(mutex_);
        return frame_;
    }
    std::int64_t currentGeneration() const override {
        std::lock_guard lock(mutex_);
        return generation_;
    }
    std::optional<double> cornerFraction() const override {
        std::lock_guard lock(mutex_);
        return corner_;
    }
    std::optional<UnitSpot> pointerInWindow() const override {
        std::lock_guard lock(mutex_);
        return pointer_;
    }

    void say(const std::string& reason, bool canOpen) { onState_(reason, canOpen); }
    void deliver() { onFrame_(nullptr, MonoTime(), Rect{0, 0, 1, 1}, 0); }
    // A picture of `width` × `height` of the current generation's window.
    void deliver(int width, int height, const Rect& crop = {0, 0, 1, 1}) {
        onFrame_(PixelBuffer::make(width, height), MonoTime(), crop, currentGeneration());
    }
    // A new window (or none) on the screen at `frame`.
    void show(std::optional<Rect> frame, std::int64_t generation) {
        std::lock_guard lock(mutex_);
        frame_ = frame;
        generation_ = generation;
    }
    void setLooks(std::optional<double> corner, std::optional<UnitSpot> pointer) {
        std::lock_guard lock(mutex_);
        corner_ = corner;
        pointer_ = pointer;
    }

private:
    StreamerEvents& events_;
    FrameHandler onFrame_;
    StateHandler onState_;
    mutable std::mutex mutex_;
    std::optional<Rect> frame_;
    std::int64_t generation_ = 0;
    std::optional<double> corner_;
    std::optional<UnitSpot> pointer_;
};

}  // namespace quib::testing
