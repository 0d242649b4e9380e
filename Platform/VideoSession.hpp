#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "Platform/PixelBuffer.hpp"
#include "Runtime/Clock.hpp"

namespace quib {

// One running video compression session of a fixed picture size and codec, tuned for delay:
// no reordering, each picture comes out as soon as it is encoded. Opened by a
// VideoSessionFactory.
//
// Pictures are submitted in presentation order; each one's result comes back once, later, on
// the session's own thread, in the order the pictures went in. Rates and submissions may come
// from any thread.
class VideoSession {
public:
    // At most `bytes` of compressed output in any span of `seconds` of presentation time.
    struct DataRateLimit {
        std::int64_t bytes = 0;
        double seconds = 0;
        bool operator==(const DataRateLimit&) const = default;
    };

    // What the session's rate control holds to.
    struct Rates {
        std::int64_t bitRate = 0;  // average, bits per second
        double frameRate = 0;      // pictures per second the session should expect
        std::vector<DataRateLimit> limits;
        bool operator==(const Rates&) const = default;
    };

    // A compressed picture as the encoder wrote it: an Annex-B byte stream (units after start
    // codes). The bytes belong to the session and are valid only while the handler runs.
    struct Picture {
        std::span<const std::uint8_t> data;
        bool isKeyframe = false;
    };

    // The result of one submitted picture. A non-zero status is a failure to encode it. With a
    // zero status and no picture, the encoder produced nothing for it; `droppedFrame` then says
    // it chose to drop it (to hold the rate).
    struct Result {
        int status = 0;
        bool droppedFrame = false;
        std::optional<Picture> picture;
    };
    using Handler = std::function<void(const Result&)>;

    virtual ~VideoSession() = default;

    // New rates, used from the next picture the session starts to encode.
    virtual void setRates(const Rates& rates) = 0;

    // Queues `picture` (of the session's size) with its presentation time; `keyframe` makes it
    // a key frame. Returns 0 when queued, after which `handler` runs once with its result; any
    // other value is a failure and `handler` never runs.
    virtual int submit(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime, bool keyframe,
                       Handler handler) = 0;

    // Finishes every picture already submitted (their handlers have run when it returns, unless
    // called from the session's own thread), then ends the session: later submissions fail.
    virtual void close() = 0;
};

}  // namespace quib
