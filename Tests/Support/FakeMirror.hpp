#pragma once

#include <string>

#include "QuibHost/Streaming/PaneSource.hpp"
#include "Shared/ViewFrame.hpp"
#include "Tests/Support/StreamerEvents.hpp"

namespace quib::testing {

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
