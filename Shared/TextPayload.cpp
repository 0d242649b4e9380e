#include "Shared/TextPayload.hpp"

namespace quib {

TextPayload TextPayload::fromJson(const Json& json) {
    const JsonReader r(json);
    TextPayload payload;
    payload.text = r.required<std::string>("text");
    payload.targetID = r.optional<std::string>("targetID");
    payload.submit = r.optional<bool>("submit");
    return payload;
}

Json TextPayload::toJson() const {
    return JsonWriter().put("text", text).put("targetID", targetID).put("submit", submit).take();
}

}  // namespace quib
