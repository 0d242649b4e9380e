#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "QuibHost/Streaming/PaneSource.hpp"
#include "QuibHost/Streaming/PanelCapture.hpp"
#include "QuibHost/Streaming/PanelEncoder.hpp"
#include "QuibHost/Streaming/ViewConnection.hpp"
#include "Shared/ViewFrame.hpp"

namespace quib::testing {

// What the streamer did to its neighbours and viewers, in one order, as short lines.
class StreamerEvents {
public:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }
    std::vector<std::string> all() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // Forgets what happened so far.
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }
    // Waits (at most 5 s) until `event` has happened; true when it has.
    bool waitFor(const std::string& event) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] {
            return std::find(events_.begin(), events_.end(), event) != events_.end();
        });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
};

// A viewer's connection that keeps what it was sent and completes a send only when told to.
// Each send is noted as "<name> <kind>: <reason or text>".
class FakeViewConnection final : public ViewConnection {
public:
    FakeViewConnection(StreamerEvents& events, std::string name, bool peerToPeer = false)
        : events_(events), name_(std::move(name)), peerToPeer_(peerToPeer) {}

    const void* identity() const override { return this; }
    void send(std::shared_ptr<const Bytes> frame, SendCompletion completed) override {
        ViewFrameReader reader(ViewChannel::maxFrameBytes);
        auto frames = reader.append(std::string_view(reinterpret_cast<const char*>(frame->data()), frame->size()));
        std::string line = name_;
        if (frames.size() == 1) {
            const auto& header = frames[0].header;
            line += " " + std::string(enumName(header.kind)) + ": " + header.title + " | " +
                    header.reason.value_or(textOf(frames[0].payload));
            std::lock_guard lock(mutex_);
            sent_.push_back({header, frame->size(), std::move(completed)});
        }
        events_.add(line);
    }
    bool isPeerToPeer() const override { return peerToPeer_; }

    struct Sent {
        ViewFrame frame;
        std::size_t bytes = 0;
        SendCompletion completed;
    };
    std::vector<Sent> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    // Completes the `index`th send: written when `ok`, else failed.
    void complete(std::size_t index, bool ok = true) {
        SendCompletion done;
        {
            std::lock_guard lock(mutex_);
            done = sent_.at(index).completed;
        }
        if (ok) done(MonoTime(std::chrono::seconds(1)));
        else done(fail("Broken pipe"));
    }

private:
    StreamerEvents& events_;
    std::string name_;
    bool peerToPeer_;
    mutable std::mutex mutex_;
    std::vector<Sent> sent_;
};

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

// The pane mirror: notes "mirror.start <pane> | <title>", "mirror.stop" and "mirror.invalidate",
// and hands on the frames the test gives it.
class FakeMirror final : public PaneSource {
public:
    FakeMirror(StreamerEvents& events, FrameHandler onFrame) : events_(events), onFrame_(std::move(onFrame)) {}

    void start(std::string pane, std::string title) override { events_.add("mirror.start " + pane + " | " + title); }
    void stop() override { events_.add("mirror.stop"); }
    void invalidate() override { events_.add("mirror.invalidate"); }

    void text(const std::string& title, const std::string& text) {
        ViewFrame frame = ViewFrame::make(ViewFrame::Kind::text, title, 1);
        frame.columns = 80;
        frame.rows = 24;
        onFrame_(frame, bytesOf(text));
    }

private:
    StreamerEvents& events_;
    FrameHandler onFrame_;
};

}  // namespace quib::testing
