#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace quib {

// Cuts a byte stream into the frames LengthPrefixedCutter cuts, with the same caps and the same
// handling of damage, but hands each payload on in the pieces it arrives in: a large payload is
// never held, only the lengths and header of the frame being read.
//
// A header length of 0, or a header or payload length above the cap, drops the frame being read
// and the rest of the bytes at hand, and is reported once by takeDesync(); the next bytes start
// a new frame.
class LengthPrefixedStreamer {
public:
    // Where a frame's parts go, in stream order: its header with its payload's length, the
    // payload in one or more pieces (none when it is empty), then its end.
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void begin(std::string_view header, std::uint32_t payloadLength) = 0;
        virtual void payload(std::string_view piece) = 0;
        // The frame is whole. False stops the reading of the bytes at hand: they are dropped.
        virtual bool end() = 0;
    };

    explicit LengthPrefixedStreamer(std::int64_t maxFrameBytes) : maxFrameBytes_(maxFrameBytes) {}

    void append(std::string_view bytes, Sink& sink);
    // Whether damage was found since the last call, clearing the mark.
    bool takeDesync() { return std::exchange(desynced_, false); }

    // The lengths and header bytes held while a frame's header arrives.
    std::size_t bufferedBytes() const { return head_.size(); }
    // The payload bytes still to come of the frame being read.
    std::uint32_t payloadLeft() const { return payloadLeft_; }

private:
    // Takes header bytes from the front of `bytes`; false when the stream is damaged.
    bool readHead(std::string_view& bytes, Sink& sink);
    bool fits(std::uint32_t length) const { return static_cast<std::int64_t>(length) <= maxFrameBytes_; }

    std::int64_t maxFrameBytes_;
    std::string head_;  // the frame's lengths and header, as far as they have come
    std::uint32_t payloadLeft_ = 0;
    bool inPayload_ = false;
    bool desynced_ = false;
};

}  // namespace quib
