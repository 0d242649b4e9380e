#include "Shared/AgentAlert.hpp"

#include "Runtime/SecureRandom.hpp"

namespace quib {

AgentAlert AgentAlert::fromJson(const Json& json) {
    const JsonReader r(json);
    AgentAlert alert;
    auto id = r.optional<std::string>("id");
    alert.id = id ? std::move(*id) : newUuidString();
    alert.threadID = r.value<std::string>("threadID", "target.unknown");
    alert.title = r.value<std::string>("title", "Quib");
    alert.subtitle = r.optional<std::string>("subtitle");
    alert.body = r.value<std::string>("body", "Something needs you");
    // A kind added by a newer peer reads as the most general one instead of losing the alert.
    const auto kind = r.optional<std::string>("kind");
    alert.kind = kind ? enumFromName<Kind>(*kind).value_or(Kind::waiting) : Kind::waiting;
    alert.targetID = r.optional<std::string>("targetID");
    alert.approvalID = r.optional<std::string>("approvalID");
    alert.isSilent = r.value("isSilent", false);
    alert.isTimeSensitive = r.value("isTimeSensitive", true);
    alert.relevance = r.value("relevance", 0.9);
    alert.badge = r.value<std::int64_t>("badge", 0);
    return alert;
}

Json AgentAlert::toJson() const {
    return JsonWriter()
        .put("id", id)
        .put("threadID", threadID)
        .put("title", title)
        .put("subtitle", subtitle)
        .put("body", body)
        .put("kind", kind)
        .put("targetID", targetID)
        .put("approvalID", approvalID)
        .put("isSilent", isSilent)
        .put("isTimeSensitive", isTimeSensitive)
        .put("relevance", relevance)
        .put("badge", badge)
        .take();
}

}  // namespace quib
