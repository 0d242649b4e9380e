#pragma once

#include <cstdint>
#include <string>

#include "Shared/Json.hpp"

namespace quib {

// The first message of a control connection. Decoded tolerantly: a missing protocol version
// reads as 4, a missing device name as "iPhone", a missing device identifier as "legacy:"
// followed by the device name.
struct HelloPayload {
    std::int64_t protocolVersion = 4;
    std::string deviceName = "iPhone";
    std::string deviceID;  // the phone's stable identity

    static HelloPayload fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const HelloPayload&) const = default;
};

}  // namespace quib
