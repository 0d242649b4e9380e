#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "Runtime/Bytes.hpp"
#include "Runtime/Result.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {

// The binary frame of every side channel, after its first JSON line:
//
//   header length H (4 bytes, big-endian) | header: one JSON object, H bytes |
//   payload length P (4 bytes, big-endian) | payload: P opaque bytes
//
// No magic number, version, checksum or padding; frames follow each other without a gap.
// Readers cap H and P separately (LengthPrefixedFramer).
struct LengthPrefixed {
    static constexpr std::size_t lengthBytes = 4;

    // One frame; fails, writing nothing, when the header cannot be encoded (or a length does
    // not fit its 32 bits).
    template <JsonCodable Header>
    static Result<Bytes> encode(const Header& header, std::span<const std::uint8_t> payload) {
        auto text = QuibCoder::encode(header);
        if (!text) return text.error();
        return frame(*text, payload);
    }

    // One frame for a channel whose readers cap the header and the payload at `maxFrameBytes`
    // each. A longer one would make every reader drop the stream and the frames behind it, so it
    // fails instead, writing nothing, and the caller drops that one frame.
    template <JsonCodable Header>
    static Result<Bytes> encode(const Header& header, std::span<const std::uint8_t> payload,
                                std::int64_t maxFrameBytes) {
        if (std::cmp_greater(payload.size(), maxFrameBytes)) return tooLarge();
        auto text = QuibCoder::encode(header);
        if (!text) return text.error();
        if (std::cmp_greater(text->size(), maxFrameBytes)) return tooLarge();
        return frame(*text, payload);
    }

    // One frame of an already encoded header.
    static Result<Bytes> frame(std::string_view header, std::span<const std::uint8_t> payload);

    // The big-endian length at the start of `bytes`, which holds at least four.
    static std::uint32_t readLength(const char* bytes);

private:
    static Error tooLarge() { return fail("The frame is larger than the channel takes"); }
};

}  // namespace quib
