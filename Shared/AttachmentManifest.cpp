#include "Shared/AttachmentManifest.hpp"

namespace quib {

AttachmentManifest AttachmentManifest::fromJson(const Json& json) {
    const JsonReader r(json);
    AttachmentManifest manifest;
    manifest.protocolVersion = r.value<std::int64_t>("protocolVersion", 23);
    manifest.deviceName = r.value<std::string>("deviceName", "iPhone");
    manifest.deviceID = r.value<std::string>("deviceID", "");
    manifest.targetIDs = r.value<std::vector<std::string>>("targetIDs", {});
    manifest.text = r.value<std::string>("text", "");
    manifest.submit = r.optional<bool>("submit");
    manifest.count = r.value<std::int64_t>("count", 0);
    manifest.followChord = r.optional<KeyChord>("followChord");
    return manifest;
}

Json AttachmentManifest::toJson() const {
    return JsonWriter()
        .put("protocolVersion", protocolVersion)
        .put("deviceName", deviceName)
        .put("deviceID", deviceID)
        .put("targetIDs", targetIDs)
        .put("text", text)
        .put("submit", submit)
        .put("count", count)
        .put("followChord", followChord)
        .take();
}

}  // namespace quib
