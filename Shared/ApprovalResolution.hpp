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

// How an approval request ended: the decision in force, why, who answered and when
// (milliseconds since 1970).
//
// Decoded tolerantly: an empty request id, `deny`, `refused` and the current time
// (ApprovalClock) fill missing keys; an unknown decision reads as `deny` and an unknown reason
// as `refused`.
struct ApprovalResolution {
    enum class Reason {
        answered,   // a person decided in time
        expired,    // nobody decided in time, or the answer came too late
        withdrawn,  // the asking client went away
        refused,    // the host would not accept the request
    };

    std::string requestID;
    ApprovalDecision decision = ApprovalDecision::deny;
    Reason reason = Reason::refused;
    std::optional<std::string> byDeviceName;
    std::int64_t atEpochMillis = 0;
    std::optional<std::string> note;

    static ApprovalResolution fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const ApprovalResolution&) const = default;
};

template <>
struct EnumNames<ApprovalResolution::Reason> {
    static constexpr std::array<std::pair<ApprovalResolution::Reason, std::string_view>, 4> table{{
        {ApprovalResolution::Reason::answered, "answered"},
        {ApprovalResolution::Reason::expired, "expired"},
        {ApprovalResolution::Reason::withdrawn, "withdrawn"},
        {ApprovalResolution::Reason::refused, "refused"},
    }};
};

}  // namespace quib
