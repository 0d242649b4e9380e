#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Shared/ApprovalDecision.hpp"
#include "Shared/Json.hpp"

namespace quib {

// One AI agent's request for the user's permission. Sent by agent-side clients, broadcast to
// phones while it waits. Times are milliseconds since 1970.
//
// Decoding fills missing keys: a new UUID id, "an agent", "Asking permission", an empty
// detail, kind `other`, created now (ApprovalClock), expiring 120 s after creation, `deny` on
// expiry. An unknown kind fails the request; an unknown `onExpiry` reads as `deny`. A detail
// longer than 4000 characters is cut (cutDetail).
struct ApprovalRequest {
    enum class Kind { command, edit, network, other };

    static constexpr std::int64_t defaultTimeoutSeconds = 120;
    static constexpr std::int64_t maxTimeoutSeconds = 900;
    static constexpr std::size_t maxDetailCharacters = 4000;

    std::string id;
    std::optional<std::string> targetID;
    std::string targetName = "an agent";
    std::string title = "Asking permission";
    std::string detail;
    Kind kind = Kind::other;
    std::int64_t createdAtEpochMillis = 0;
    std::int64_t expiresAtEpochMillis = 0;
    ApprovalDecision onExpiry = ApprovalDecision::deny;

    // A request as an asker makes it: the detail cut as the record keeps it, and an expiry
    // `timeoutSeconds` after the creation, the timeout held within 1...900 s (anything not above
    // 1 s, NaN included, counts as 1 s) and truncated to whole milliseconds. An expiry past the
    // 64-bit limit is held at the limit.
    static ApprovalRequest make(std::string id, std::optional<std::string> targetID, std::string targetName,
                                std::string title, std::string detail, Kind kind, std::int64_t createdAtEpochMillis,
                                double timeoutSeconds, ApprovalDecision onExpiry);

    // The detail as the record keeps it: at most 4000 user-perceived characters of the asker's
    // text, a longer one cut there and followed by "\n… (truncated)".
    static std::string cutDetail(std::string detail);

    // Whether the request has expired at `now` (epoch milliseconds): at its expiry or later.
    bool isExpired(std::int64_t now) const;
    // Whole seconds left until the expiry, rounded down; 0 once expired, never negative.
    std::int64_t secondsRemaining(std::int64_t now) const;

    static ApprovalRequest fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const ApprovalRequest&) const = default;
};

template <>
struct EnumNames<ApprovalRequest::Kind> {
    static constexpr std::array<std::pair<ApprovalRequest::Kind, std::string_view>, 4> table{{
        {ApprovalRequest::Kind::command, "command"},
        {ApprovalRequest::Kind::edit, "edit"},
        {ApprovalRequest::Kind::network, "network"},
        {ApprovalRequest::Kind::other, "other"},
    }};
};

}  // namespace quib
