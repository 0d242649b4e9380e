#pragma once

#include <optional>
#include <set>
#include <string>

#include "Shared/AgentEvent.hpp"
#include "Shared/Json.hpp"

namespace quib {

// What one phone wants to be alerted about; it arrives inside the phone's push registration.
// Every key may be missing and then takes the default below; a present value of the wrong
// type fails the record. The quiet window is kept within 0...300 seconds.
struct AlertSettings {
    static constexpr double minQuietSeconds = 0;
    static constexpr double maxQuietSeconds = 300;

    bool isEnabled = true;  // master switch
    bool waiting = true;    // an agent waits for the user
    bool failed = true;     // an agent's work failed
    bool done = false;      // an agent finished
    bool approvals = true;  // permission requests
    bool playsSound = true;
    // After an alert in a thread made a sound, further event alerts there stay silent this long.
    double quietSeconds = 30;
    std::set<std::string> mutedTargetIDs;  // targets that never cause an alert

    AlertSettings() = default;
    // `quietSeconds` is clamped as the decoder does.
    AlertSettings(bool isEnabled, bool waiting, bool failed, bool done, bool approvals, bool playsSound,
                  double quietSeconds, std::set<std::string> mutedTargetIDs);

    // `seconds` held within minQuietSeconds...maxQuietSeconds.
    static double clampedQuietSeconds(double seconds);

    // Whether events of `kind` may alert: the master switch and that kind's flag are both on.
    // Approvals are not an event kind; their flag is read by whoever handles them.
    bool allows(AgentEvent::Kind kind) const;
    // Whether `targetID` is muted; an absent target never is.
    bool isMuted(const std::optional<std::string>& targetID) const;

    static AlertSettings fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const AlertSettings&) const = default;
};

}  // namespace quib
