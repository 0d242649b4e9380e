#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Runtime/Bytes.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Geometry.hpp"
#include "Runtime/Result.hpp"
#include "Shared/Json.hpp"
#include "Shared/LengthPrefixed.hpp"
#include "Shared/LengthPrefixedFramer.hpp"
#include "Shared/UnitRect.hpp"
#include "Shared/UnitSpot.hpp"
#include "Shared/ViewChannel.hpp"

namespace quib {

// The header of one view-channel frame. The payload is, by kind: the compressed picture as the
// encoder gave it (length-prefixed NAL units; the parameter sets travel here in the header), the
// pane's text as UTF-8, or nothing for a state frame.
//
// "kind", "title" and "captureTime" are required; every other key is optional and written only
// when it has a value. Keys are written in the order below; readers take any order and ignore
// keys they do not know.
struct ViewFrame {
    enum class Kind { video, text, state };
    enum class Codec { hevc, h264 };

    Kind kind = Kind::state;
    std::string title;              // of the mirrored window or pane
    std::uint64_t captureTime = 0;  // UptimeClock nanoseconds at capture; for state frames, when made
    // Video frames.
    std::optional<Codec> codec;
    std::optional<bool> isKeyframe;
    std::optional<std::int64_t> width;  // of the encoded picture, in pixels
    std::optional<std::int64_t> height;
    std::optional<std::vector<Bytes>> parameterSets;  // key frames: in the encoder's order
    std::optional<double> cornerRadius;               // the window's, as a fraction of the picture width
    // Text frames: the pane's size in character cells.
    std::optional<std::int64_t> columns;
    std::optional<std::int64_t> rows;
    // Video frames.
    std::optional<UnitSpot> pointer;  // the pointer on the window; absent when it is off the window
    std::optional<UnitRect> crop;     // the part of the window shown; absent: the whole window
    // State frames.
    std::optional<std::string> reason;  // the sentence to show instead of a picture
    std::optional<bool> canOpen;        // true, or absent: whether the phone may offer to open the window

    // A frame with every optional field absent.
    static ViewFrame make(Kind kind, std::string title, std::uint64_t captureTime);
    // A state frame made at `now`, telling the viewer `reason`.
    static ViewFrame state(std::string reason, std::string title, bool canOpen, MonoTime now);

    // Records the part of the window the picture shows; the whole window is recorded as no crop.
    void setCrop(const Rect& rect);
    // The part of the window the picture shows, clamped into the unit square; the unit square
    // when there is no crop.
    Rect cropRect() const;

    static ViewFrame fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const ViewFrame&) const = default;
};

template <>
struct EnumNames<ViewFrame::Kind> {
    static constexpr std::array<std::pair<ViewFrame::Kind, std::string_view>, 3> table{{
        {ViewFrame::Kind::video, "video"},
        {ViewFrame::Kind::text, "text"},
        {ViewFrame::Kind::state, "state"},
    }};
};

template <>
struct EnumNames<ViewFrame::Codec> {
    static constexpr std::array<std::pair<ViewFrame::Codec, std::string_view>, 2> table{{
        {ViewFrame::Codec::hevc, "hevc"},
        {ViewFrame::Codec::h264, "h264"},
    }};
};

// Reads view frames (the phone's side); the viewer caps both lengths at ViewChannel::maxFrameBytes
// and asks takeDesync() after each append.
using ViewFrameReader = LengthPrefixedFramer<ViewFrame>;

// Writes one view frame. Fails, writing nothing, when the header cannot be encoded or when the
// header or the payload is longer than ViewChannel::maxFrameBytes; the caller drops that frame.
struct ViewFrameWriter {
    static Result<Bytes> encode(const ViewFrame& frame, std::span<const std::uint8_t> payload) {
        return LengthPrefixed::encode(frame, payload, ViewChannel::maxFrameBytes);
    }
};

}  // namespace quib
