#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "Shared/Json.hpp"

namespace quib {

// An answer to an approval request.
//
// Read two ways on purpose: a phone's `approvalDecision` message must name one of the two cases
// exactly (the plain enum coding, which fails on any other string), while the approval records
// read an unknown word as `deny` (readDecisionOrDeny), so a newer peer's extra case never loses
// a whole request or resolution.
enum class ApprovalDecision { approve, deny };

template <>
struct EnumNames<ApprovalDecision> {
    static constexpr std::array<std::pair<ApprovalDecision, std::string_view>, 2> table{{
        {ApprovalDecision::approve, "approve"},
        {ApprovalDecision::deny, "deny"},
    }};
};

// The decision under `key`: `deny` when it is missing, null or no known case name. A value
// that is not a string still fails the record.
ApprovalDecision readDecisionOrDeny(const JsonReader& reader, std::string_view key);

}  // namespace quib
