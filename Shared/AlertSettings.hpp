#pragma once

#include <set>
#include <string>

#include "Shared/Json.hpp"

namespace quib {

// What one phone wants to be alerted about; it arrives inside the phone's push registration.
// Every key may be missing and then takes the default below; a present value of the wrong
// type fails the record. The quiet window is kept within 0...300 seconds.
struct AlertSettings {
    static constexpr double minQuietSeconds = 0;
    static constexpr double maxQuietSeconds = 300;

    bool isEnabled = true;   // master switch
    bool waiting = true;     // an agent waits for the user
    bool failed = true;      // an agent's work failed
    bool done = false;       // an agent finished
    bool approvals = true;   // permission requests
    bool playsSound = true;
    // After an alert in a thread made a sound, further event alerts there stay silent this long.
    double quietSeconds = 30;
    std::set<std::string> mutedTargetIDs;  // targets that never cause an alert

    // `seconds` held within minQuietSeconds...maxQuietSeconds.
    static double clampedQuietSeconds(double seconds);

    static AlertSettings fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const AlertSettings&) const = default;
};

}  // namespace quib
