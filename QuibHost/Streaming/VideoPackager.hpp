#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>

#include "QuibHost/Streaming/VideoEncoder.hpp"
#include "Runtime/Bytes.hpp"
#include "Shared/ViewFrame.hpp"

namespace quib {

// Turns one session's compressed pictures, as Annex-B byte streams, into encoder outputs: the
// stream is split on its 3- and 4-byte start codes (the zero bytes before each code dropped),
// parameter sets go apart in the order they came, access unit delimiters are dropped, and every
// other unit is written after its length as 4 big-endian bytes.
//
// A key frame whose stream carries no parameter sets gets the latest ones the session sent, one
// of each type in type order (none before the first). Used for one session's pictures, in order,
// from one thread at a time.
class VideoPackager {
public:
    explicit VideoPackager(ViewFrame::Codec codec) : codec_(codec) {}

    // None when there is nothing to carry: no bytes, bytes before the first start code, or no
    // unit besides parameter sets and delimiters.
    std::optional<VideoEncoder::Output> package(std::span<const std::uint8_t> annexB, bool isKeyframe);

private:
    ViewFrame::Codec codec_;
    std::map<int, Bytes> latestParameterSets_;  // by unit type
};

}  // namespace quib
