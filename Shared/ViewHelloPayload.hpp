#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Shared/Json.hpp"
#include "Shared/UnitRect.hpp"

namespace quib {

// The first line of a view channel: who is watching, the largest picture it wants and,
// optionally, the part of the window it wants. Every key but "crop" is required.
struct ViewHelloPayload {
    std::int64_t protocolVersion = 0;
    std::string deviceName;
    std::string deviceID;
    std::int64_t maxWidth = 0;
    std::int64_t maxHeight = 0;
    std::optional<UnitRect> crop;  // absent: the whole window

    // A hello asking for `crop` of the window; the whole window (the unit square) is sent as no
    // crop at all.
    static ViewHelloPayload make(std::int64_t protocolVersion, std::string deviceName, std::string deviceID,
                                 std::int64_t maxWidth, std::int64_t maxHeight, const Rect& crop);
    // The part of the window asked for, clamped into the unit square; the unit square when none.
    Rect cropRect() const;

    static ViewHelloPayload fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const ViewHelloPayload&) const = default;
};

}  // namespace quib
