#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// The messages `next` reads before the pong of the ping with this nonce; nothing when `next`
// gives null (no line came in time) first. The host answers a connection's lines in order, so
// whatever it sent in answer to the lines before that ping is among them.
inline std::optional<std::vector<Json>> messagesBeforePong(std::uint64_t nonce, const std::function<Json()>& next) {
    std::vector<Json> messages;
    for (Json message = next(); !message.is_null(); message = next()) {
        if (caseOf(message) == "pong" && message["pong"]["nonce"] == nonce) return messages;
        messages.push_back(std::move(message));
    }
    return std::nullopt;
}

}  // namespace quib::testing
