#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "Shared/AudioFrame.hpp"
#include "Shared/LengthPrefixedFramer.hpp"

namespace quib {

// Reads audio frames (the listener's side); the listen channel caps both lengths at
// AudioChannel::maxFrameBytes. Damage drops what was buffered, as in every side channel, but is
// not reported: a listener simply hears a gap.
class AudioFrameReader {
public:
    using Frame = LengthPrefixedFramer<AudioFrame>::Frame;

    explicit AudioFrameReader(std::int64_t maxFrameBytes) : framer_(maxFrameBytes) {}

    std::vector<Frame> append(std::string_view bytes) {
        auto frames = framer_.append(bytes);
        framer_.takeDesync();
        return frames;
    }

private:
    LengthPrefixedFramer<AudioFrame> framer_;
};

}  // namespace quib
