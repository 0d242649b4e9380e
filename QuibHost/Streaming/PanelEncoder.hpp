#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Platform/PixelBuffer.hpp"
#include "Runtime/Bytes.hpp"
#include "Runtime/Clock.hpp"
#include "Shared/ViewFrame.hpp"

namespace quib {

// The video encoder as the panel streamer drives it. `prepare` and `encode` come from one
// thread at a time; the rest is safe on any thread.
class PanelEncoder {
public:
    // One compressed picture.
    struct Output {
        Bytes data;  // each unit after its 4-byte big-endian length
        bool isKeyframe = false;
        std::vector<Bytes> parameterSets;  // key frames only
        ViewFrame::Codec codec = ViewFrame::Codec::h264;
    };
    using OutputHandler = std::function<void(std::optional<Output>)>;

    virtual ~PanelEncoder() = default;
    // Makes sure a session for pictures of this size exists; true when one is ready.
    virtual bool prepare(std::int64_t width, std::int64_t height, std::int64_t bitRate, double frameRate) = 0;
    // Submits one picture; `output` is called once, later, with the compressed picture or with
    // none. False, and `output` is never called, when the picture was not taken.
    virtual bool encode(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime,
                        OutputHandler output) = 0;
    // The next picture is encoded as a key frame.
    virtual void forceKeyframe() = 0;
    // Ends the session; pictures already submitted are finished first.
    virtual void invalidate() = 0;
    // Applies a bit rate and frame rate to the session, if there is one.
    virtual void updateRate(std::int64_t bitRate, double frameRate) = 0;
};

}  // namespace quib
