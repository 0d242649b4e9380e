#pragma once

#include <cstdint>
#include <string>

#include "Shared/Json.hpp"
#include "Shared/StillChannel.hpp"

namespace quib {

// The first line of a still channel: one screenshot of a target, no longer than `maxLongEdge`
// pixels on its long side. Every key may be missing or null and then takes the default below;
// a present value of the wrong type fails the record.
struct StillRequest {
    static constexpr std::int64_t defaultLongEdge = StillChannel::defaultLongEdge;

    std::int64_t protocolVersion = 23;
    std::string deviceName = "iPhone";
    std::string deviceID;
    std::string targetID;
    std::int64_t maxLongEdge = defaultLongEdge;

    static StillRequest fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const StillRequest&) const = default;
};

}  // namespace quib
