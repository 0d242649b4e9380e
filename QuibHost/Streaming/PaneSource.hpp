#pragma once

#include <functional>
#include <string>

#include "Runtime/Bytes.hpp"
#include "Shared/ViewFrame.hpp"

namespace quib {

// A tmux pane shown to viewers as text: what the panel streamer asks of the pane mirror. It
// hands every changed picture of the pane on as a text frame, and every failure as a state
// frame, to the handler it was made with. Called from the streamer's one serial queue.
class PaneSource {
public:
    // A frame with its payload (the pane's text, or nothing for a state).
    using FrameHandler = std::function<void(const ViewFrame& frame, const Bytes& payload)>;

    virtual ~PaneSource() = default;
    // Mirrors `pane` (an identifier such as "%3" or an address such as "work:0.0") under
    // `title`, in place of whatever was mirrored; the first picture always goes out.
    virtual void start(std::string pane, std::string title) = 0;
    // Mirrors nothing; once it returns, no frame of the pane mirrored until now follows.
    virtual void stop() = 0;
    // The next picture goes out even when nothing changed.
    virtual void invalidate() = 0;
};

}  // namespace quib
