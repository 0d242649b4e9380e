#include "Shared/AgentEvent.hpp"

namespace quib {

AgentEvent AgentEvent::fromJson(const Json& json) {
    const JsonReader r(json);
    AgentEvent event;
    event.targetID = r.required<std::string>("targetID");
    event.kind = r.required<Kind>("kind");
    event.atEpochMillis = r.required<std::int64_t>("atEpochMillis");
    event.note = r.optional<std::string>("note");
    return event;
}

Json AgentEvent::toJson() const {
    return JsonWriter()
        .put("targetID", targetID)
        .put("kind", kind)
        .put("atEpochMillis", atEpochMillis)
        .put("note", note)
        .take();
}

}  // namespace quib
