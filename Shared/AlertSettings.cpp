#include "Shared/AlertSettings.hpp"

#include <utility>
#include <vector>

namespace quib {

AlertSettings::AlertSettings(bool isEnabled, bool waiting, bool failed, bool done, bool approvals, bool playsSound,
                             double quietSeconds, std::set<std::string> mutedTargetIDs)
    : isEnabled(isEnabled),
      waiting(waiting),
      failed(failed),
      done(done),
      approvals(approvals),
      playsSound(playsSound),
      quietSeconds(clampedQuietSeconds(quietSeconds)),
      mutedTargetIDs(std::move(mutedTargetIDs)) {}

double AlertSettings::clampedQuietSeconds(double seconds) {
    if (seconds <= minQuietSeconds) return minQuietSeconds;
    if (seconds > maxQuietSeconds) return maxQuietSeconds;
    return seconds;
}

bool AlertSettings::allows(AgentEvent::Kind kind) const {
    if (!isEnabled) return false;
    switch (kind) {
        case AgentEvent::Kind::done: return done;
        case AgentEvent::Kind::waiting: return waiting;
        case AgentEvent::Kind::failed: return failed;
    }
    return false;
}

bool AlertSettings::isMuted(const std::optional<std::string>& targetID) const {
    return targetID && mutedTargetIDs.contains(*targetID);
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
