#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "Runtime/Bytes.hpp"
#include "Runtime/Result.hpp"
#include "Shared/Json.hpp"
#include "Shared/LengthPrefixed.hpp"
#include "Shared/LengthPrefixedFramer.hpp"

namespace quib {

// The header of the one frame a still channel answers with; the payload is the PNG. Every key
// is required.
struct StillFrame {
    std::string title;  // of the photographed window or display
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t byteCount = 0;  // of the PNG in the payload

    static StillFrame fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const StillFrame&) const = default;
};

// Reads still frames (the phone's side); readers cap both lengths at StillChannel::maxStillBytes.
using StillFrameReader = LengthPrefixedFramer<StillFrame>;

// Writes the one frame of a still reply.
struct StillFrameWriter {
    static Result<Bytes> encode(const StillFrame& frame, std::span<const std::uint8_t> payload) {
        return LengthPrefixed::encode(frame, payload);
    }
};

}  // namespace quib
