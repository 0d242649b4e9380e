#include "Shared/ApprovalResolution.hpp"

#include "Shared/ApprovalClock.hpp"

namespace quib {

ApprovalResolution ApprovalResolution::fromJson(const Json& json) {
    const JsonReader r(json);
    ApprovalResolution resolution;
    resolution.requestID = r.value<std::string>("requestID", "");
    resolution.decision = readDecisionOrDeny(r, "decision");
    const auto reason = r.optional<std::string>("reason");
    resolution.reason = reason ? enumFromName<Reason>(*reason).value_or(Reason::refused) : Reason::refused;
    resolution.byDeviceName = r.optional<std::string>("byDeviceName");
    const auto at = r.optional<std::int64_t>("atEpochMillis");
    resolution.atEpochMillis = at ? *at : ApprovalClock::now();
    resolution.note = r.optional<std::string>("note");
    return resolution;
}

Json ApprovalResolution::toJson() const {
    return JsonWriter()
        .put("requestID", requestID)
        .put("decision", decision)
        .put("reason", reason)
        .put("byDeviceName", byDeviceName)
        .put("atEpochMillis", atEpochMillis)
        .put("note", note)
        .take();
}

}  // namespace quib
