#pragma once

#include <cstdint>

namespace quib {

// The video encoder as the panel streamer drives it. Safe on any thread.
class PanelEncoder {
public:
    virtual ~PanelEncoder() = default;
    // The next picture is encoded as a key frame.
    virtual void forceKeyframe() = 0;
    // Ends the session; the next picture starts a new one.
    virtual void invalidate() = 0;
    // Applies a bit rate and frame rate to the session, if there is one.
    virtual void updateRate(std::int64_t bitRate, double frameRate) = 0;
};

}  // namespace quib
