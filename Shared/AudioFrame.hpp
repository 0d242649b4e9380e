#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Runtime/Bytes.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Result.hpp"
#include "Shared/AudioChannel.hpp"
#include "Shared/Json.hpp"
#include "Shared/LengthPrefixed.hpp"

namespace quib {

// The header of one listen-channel frame. What each kind holds:
//   describe frame (audio): kind, captureTime, codec, sampleRate, channels, framesPerPacket,
//                           packets, sequence; payload: the AAC packets
//   plain frame (audio):    kind, captureTime, packets, sequence; payload: the AAC packets
//   state:                  kind, captureTime, reason; empty payload
// The payload's packets are raw AAC-LC, back to back with nothing between them; `packets` gives
// their sizes. A plain frame has the format of the last describe frame.
//
// "kind" and "captureTime" are required; every other key is optional and written only when it
// has a value, in the order below. An unknown kind or codec makes the header undecodable.
struct AudioFrame {
    enum class Kind { audio, state };
    enum class Codec { aac };

    // The bytes of one packet in the payload: [begin, end).
    struct Range {
        std::size_t begin = 0;
        std::size_t end = 0;
        bool operator==(const Range&) const = default;
    };

    Kind kind = Kind::state;
    // UptimeClock nanoseconds: for audio, the capture time of the sound that begins the frame;
    // for a state frame, when it was made.
    std::uint64_t captureTime = 0;
    std::optional<Codec> codec;
    std::optional<std::int64_t> sampleRate;
    std::optional<std::int64_t> channels;
    std::optional<std::int64_t> framesPerPacket;
    std::optional<std::vector<std::int64_t>> packets;  // byte size of each packet, in payload order
    std::optional<std::uint32_t> sequence;             // one more than the last audio frame's, wrapping
    std::optional<std::string> reason;                 // the sentence of a state frame

    // A frame with every optional field absent.
    static AudioFrame make(Kind kind, std::uint64_t captureTime);
    // A state frame made at `now`, telling the listener `reason`.
    static AudioFrame state(std::string reason, MonoTime now);

    // Where each packet lies in `payload`; none unless the sizes, each at least 1, cover the
    // payload exactly. No packets at all give none too.
    std::optional<std::vector<Range>> packetRanges(std::span<const std::uint8_t> payload) const;

    static AudioFrame fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const AudioFrame&) const = default;
};

template <>
struct EnumNames<AudioFrame::Kind> {
    static constexpr std::array<std::pair<AudioFrame::Kind, std::string_view>, 2> table{{
        {AudioFrame::Kind::audio, "audio"},
        {AudioFrame::Kind::state, "state"},
    }};
};

template <>
struct EnumNames<AudioFrame::Codec> {
    static constexpr std::array<std::pair<AudioFrame::Codec, std::string_view>, 1> table{{
        {AudioFrame::Codec::aac, "aac"},
    }};
};

// Writes one audio frame. Fails, writing nothing, when the header cannot be encoded or when the
// header or the payload is longer than AudioChannel::maxFrameBytes; the caller drops that frame.
struct AudioFrameWriter {
    static Result<Bytes> encode(const AudioFrame& frame, std::span<const std::uint8_t> payload) {
        return LengthPrefixed::encode(frame, payload, AudioChannel::maxFrameBytes);
    }
};

}  // namespace quib
