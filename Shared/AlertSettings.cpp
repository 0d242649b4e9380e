#include "Shared/AlertSettings.hpp"

#include <vector>

namespace quib {

double AlertSettings::clampedQuietSeconds(double seconds) {
    if (seconds <= minQuietSeconds) return minQuietSeconds;
    if (seconds > maxQuietSeconds) return maxQuietSeconds;
    return seconds;
}

AlertSettings AlertSettings::fromJson(const Json& json) {
    const JsonReader r(json);
    AlertSettings settings;
    settings.isEnabled = r.value("isEnabled", true);
    settings.waiting = r.value("waiting", true);
    settings.failed = r.value("failed", true);
    settings.done = r.value("done", false);
    settings.approvals = r.value("approvals", true);
    settings.playsSound = r.value("playsSound", true);
    settings.quietSeconds = clampedQuietSeconds(r.value("quietSeconds", 30.0));
    const auto muted = r.value<std::vector<std::string>>("mutedTargetIDs", {});
    settings.mutedTargetIDs = std::set<std::string>(muted.begin(), muted.end());
    return settings;
}

Json AlertSettings::toJson() const {
    return JsonWriter()
        .put("isEnabled", isEnabled)
        .put("waiting", waiting)
        .put("failed", failed)
        .put("done", done)
        .put("approvals", approvals)
        .put("playsSound", playsSound)
        .put("quietSeconds", quietSeconds)
        .put("mutedTargetIDs", std::vector<std::string>(mutedTargetIDs.begin(), mutedTargetIDs.end()))
        .take();
}

}  // namespace quib
