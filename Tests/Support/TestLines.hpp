#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Shared/Json.hpp"

namespace quib::testing {

// Lines a phone sends, and reading the host's lines back.

inline std::string hello(const std::string& deviceID, const std::string& name, int version = 23) {
    return "{\"hello\":{\"_0\":{\"protocolVersion\":" + std::to_string(version) + ",\"deviceName\":\"" + name +
           "\",\"deviceID\":\"" + deviceID + "\"}}}\n";
}

inline std::string ping(std::uint64_t nonce) { return "{\"ping\":{\"nonce\":" + std::to_string(nonce) + "}}\n"; }

inline Json parse(const std::optional<std::string>& line) { return line ? Json::parse(*line) : Json(); }

// The name of a host message's case; empty for anything else.
inline std::string caseOf(const Json& message) {
    return message.is_object() && !message.empty() ? message.begin().key() : "";
}

}  // namespace quib::testing
