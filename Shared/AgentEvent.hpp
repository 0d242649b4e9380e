#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Shared/Json.hpp"

namespace quib {

// A lifecycle event reported by an AI agent working in a target. Received from agent-side
// clients and passed on to phones. Decoded strictly: "targetID", "kind" and "atEpochMillis"
// are required, "note" is optional.
struct AgentEvent {
    enum class Kind { done, waiting, failed };

    std::string targetID;
    Kind kind = Kind::done;
    std::int64_t atEpochMillis = 0;  // milliseconds since 1970-01-01 00:00:00 UTC
    std::optional<std::string> note;

    static AgentEvent fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const AgentEvent&) const = default;
};

// allCases<AgentEvent::Kind>() lists the kinds in this order.
template <>
struct EnumNames<AgentEvent::Kind> {
    static constexpr std::array<std::pair<AgentEvent::Kind, std::string_view>, 3> table{{
        {AgentEvent::Kind::done, "done"},
        {AgentEvent::Kind::waiting, "waiting"},
        {AgentEvent::Kind::failed, "failed"},
    }};
};

}  // namespace quib
