#include "Shared/RemoteAccessPayload.hpp"

namespace quib {

std::optional<RemoteAccessPayload::IssuedKey> RemoteAccessPayload::issuedKey() const {
    if (!keyIdentity || keyIdentity->empty()) return std::nullopt;
    if (!keyMaterial || keyMaterial->size() != awayKeyLength) return std::nullopt;
    return IssuedKey{*keyIdentity, *keyMaterial};
}

RemoteAccessPayload RemoteAccessPayload::withoutKey() const {
    RemoteAccessPayload copy = *this;
    copy.keyIdentity.reset();
    copy.keyMaterial.reset();
    return copy;
}

RemoteAccessPayload RemoteAccessPayload::fromJson(const Json& json) {
    const JsonReader r(json);
    RemoteAccessPayload payload;
    payload.isEnabled = r.value("isEnabled", false);
    payload.candidates = r.value<std::vector<QuibCandidate>>("candidates", {});
    payload.unavailable = r.optional<std::string>("unavailable");
    payload.keyIdentity = r.optional<std::string>("keyIdentity");
    payload.keyMaterial = r.optional<Bytes>("keyMaterial");
    return payload;
}

Json RemoteAccessPayload::toJson() const {
    return JsonWriter()
        .put("isEnabled", isEnabled)
        .put("candidates", candidates)
        .put("unavailable", unavailable)
        .put("keyIdentity", keyIdentity)
        .put("keyMaterial", keyMaterial)
        .take();
}

}  // namespace quib
