#include "Shared/MenuProfilePayload.hpp"

namespace quib {

MenuProfilePayload MenuProfilePayload::fromJson(const Json& json) {
    const JsonReader r(json);
    MenuProfilePayload payload;
    payload.bundleID = r.value<std::string>("bundleID", "");
    // Read as plain text so an outcome this build does not know reads as unreadable instead of
    // failing the whole payload; a value that is not text still fails.
    const auto outcome = r.optional<std::string>("outcome");
    payload.outcome = outcome ? enumFromName<Outcome>(*outcome).value_or(Outcome::unreadable) : Outcome::unreadable;
    payload.profile = r.optional<ShortcutProfile>("profile");
    payload.note = r.value<std::string>("note", "");
    return payload;
}

Json MenuProfilePayload::toJson() const {
    return JsonWriter()
        .put("bundleID", bundleID)
        .put("outcome", outcome)
        .put("profile", profile)
        .put("note", note)
        .take();
}

}  // namespace quib
