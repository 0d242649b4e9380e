#include "Shared/ApprovalDecision.hpp"

#include <string>

namespace quib {

ApprovalDecision readDecisionOrDeny(const JsonReader& reader, std::string_view key) {
    const auto text = reader.optional<std::string>(key);
    if (!text) return ApprovalDecision::deny;
    return enumFromName<ApprovalDecision>(*text).value_or(ApprovalDecision::deny);
}

}  // namespace quib
