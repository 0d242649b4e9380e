#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Shared/Json.hpp"

namespace quib {

// The first line of a listen channel: who is listening and whether it starts paused. The
// protocol version, device name and device identifier are required; "paused" is optional.
struct ListenHelloPayload {
    std::int64_t protocolVersion = 0;
    std::string deviceName;
    std::string deviceID;
    std::optional<bool> paused;

    bool isPaused() const { return paused.value_or(false); }

    // A hello that carries "paused" only when it is true.
    static ListenHelloPayload make(std::int64_t protocolVersion, std::string deviceName, std::string deviceID,
                                   bool paused);

    static ListenHelloPayload fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const ListenHelloPayload&) const = default;
};

}  // namespace quib
