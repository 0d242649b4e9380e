#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Runtime/Bytes.hpp"
#include "Shared/LengthPrefixed.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {

// Cuts a received byte stream into length-prefixed frames, leaving their headers undecoded.
// The header type's framer below is what channels use.
//
// A frame comes out only once all of its 8 + H + P bytes are here, however the stream was
// split. A header length of 0, or a header or payload length above the cap, means the stream is
// damaged: everything buffered is dropped and the damage is reported once by takeDesync(). The
// reader then takes the next bytes as the start of a new frame; it does not hunt for the next
// boundary, so frames behind the damage may be lost. The buffer never holds more than one
// unfinished frame.
class LengthPrefixedCutter {
public:
    struct Piece {
        std::string header;
        Bytes payload;
    };

    explicit LengthPrefixedCutter(std::int64_t maxFrameBytes) : maxFrameBytes_(maxFrameBytes) {}

    // Every frame completed by these bytes, in arrival order; frames completed before damage in
    // the same call are returned too.
    std::vector<Piece> append(std::string_view bytes);
    // Whether damage was found since the last call, clearing the mark.
    bool takeDesync() { return std::exchange(desynced_, false); }

    std::int64_t maxFrameBytes() const { return maxFrameBytes_; }
    std::size_t bufferedBytes() const { return buffer_.size(); }

private:
    // Drops everything buffered and marks the stream as damaged; passes on the frames found.
    std::vector<Piece> damaged(std::vector<Piece> pieces);
    bool fits(std::uint32_t length) const { return static_cast<std::int64_t>(length) <= maxFrameBytes_; }

    std::string buffer_;
    std::int64_t maxFrameBytes_;
    bool desynced_ = false;
};

// Reads frames whose headers are `Header` records. A header that does not decode as one drops
// its frame, header and payload, without a report; reading goes on with the next frame.
template <JsonCodable Header>
class LengthPrefixedFramer {
public:
    struct Frame {
        Header header;
        Bytes payload;
    };

    explicit LengthPrefixedFramer(std::int64_t maxFrameBytes) : cutter_(maxFrameBytes) {}

    std::vector<Frame> append(std::string_view bytes) {
        std::vector<Frame> frames;
        for (auto& piece : cutter_.append(bytes)) {
            auto header = QuibCoder::decode<Header>(piece.header);
            if (header) frames.push_back(Frame{std::move(*header), std::move(piece.payload)});
        }
        return frames;
    }
    bool takeDesync() { return cutter_.takeDesync(); }

    std::int64_t maxFrameBytes() const { return cutter_.maxFrameBytes(); }
    std::size_t bufferedBytes() const { return cutter_.bufferedBytes(); }

private:
    LengthPrefixedCutter cutter_;
};

}  // namespace quib
