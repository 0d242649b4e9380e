#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Shared/Json.hpp"

namespace quib {

// One alert about an agent, sealed into a push and shown on the phone. Its id is also its
// collapse identifier: a newer alert with the same id replaces the older one on the phone.
//
// Decoding fills missing keys: a new UUID id, thread "target.unknown", title "Quib", body
// "Something needs you", kind `waiting` (also for a kind this side does not know), not silent,
// time-sensitive, relevance 0.9, badge 0. A value of the wrong type fails the record. The
// encoder leaves out an absent subtitle, target id and approval id.
struct AgentAlert {
    enum class Kind { waiting, failed, done, approval };

    std::string id{};
    std::string threadID = "target.unknown";  // groups the alerts of one target
    std::string title = "Quib";               // the target's or agent's name
    std::optional<std::string> subtitle{};    // the request's title, for approvals
    std::string body = "Something needs you";
    Kind kind = Kind::waiting;
    std::optional<std::string> targetID{};
    std::optional<std::string> approvalID{};  // the approval request's id, for approval alerts
    bool isSilent = false;
    bool isTimeSensitive = true;  // pushed as time-sensitive rather than passive
    double relevance = 0.9;       // 0...1
    std::int64_t badge = 0;       // the app badge to show with this alert

    static AgentAlert fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const AgentAlert&) const = default;
};

template <>
struct EnumNames<AgentAlert::Kind> {
    static constexpr std::array<std::pair<AgentAlert::Kind, std::string_view>, 4> table{{
        {AgentAlert::Kind::waiting, "waiting"},
        {AgentAlert::Kind::failed, "failed"},
        {AgentAlert::Kind::done, "done"},
        {AgentAlert::Kind::approval, "approval"},
    }};
};

}  // namespace quib
