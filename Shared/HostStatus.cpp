#include "Shared/HostStatus.hpp"

#include "Runtime/HostWords.hpp"

namespace quib {

HostStatus HostStatus::fromJson(const Json& json) {
    const JsonReader r(json);
    HostStatus s;
    s.hostName = r.value<std::string>("hostName", capitalised<HostWords::computer>.str());
    s.protocolVersion = r.value<std::int64_t>("protocolVersion", 4);
    s.accessibilityGranted = r.value("accessibilityGranted", false);
    s.injectionPaused = r.value("injectionPaused", false);
    s.activeTargetID = r.optional<std::string>("activeTargetID");
    s.deviceApproved = r.value("deviceApproved", true);
    s.tmuxAvailable = r.value("tmuxAvailable", false);
    s.screenRecordingGranted = r.value("screenRecordingGranted", false);
    s.unresolvedTargetIDs = r.value<std::vector<std::string>>("unresolvedTargetIDs", {});
    s.pushRelayConfigured = r.optional<bool>("pushRelayConfigured");
    return s;
}

Json HostStatus::toJson() const {
    return JsonWriter()
        .put("hostName", hostName)
        .put("protocolVersion", protocolVersion)
        .put("accessibilityGranted", accessibilityGranted)
        .put("injectionPaused", injectionPaused)
        .put("activeTargetID", activeTargetID)
        .put("deviceApproved", deviceApproved)
        .put("tmuxAvailable", tmuxAvailable)
        .put("screenRecordingGranted", screenRecordingGranted)
        .put("unresolvedTargetIDs", unresolvedTargetIDs)
        .put("pushRelayConfigured", pushRelayConfigured)
        .take();
}

}  // namespace quib
