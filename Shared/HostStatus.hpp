#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Runtime/HostWords.hpp"
#include "Shared/Json.hpp"

namespace quib {

// What a phone is told about the host. Decoded tolerantly: a missing or null key takes the
// default below (note `deviceApproved` defaults to true); a wrong JSON type fails.
struct HostStatus {
    std::string hostName = capitalised<HostWords::computer>.str();
    std::int64_t protocolVersion = 4;
    bool accessibilityGranted = false;
    bool injectionPaused = false;
    std::optional<std::string> activeTargetID;
    bool deviceApproved = true;  // for the device this status was built for
    bool tmuxAvailable = false;
    bool screenRecordingGranted = false;
    std::vector<std::string> unresolvedTargetIDs;  // tmux targets whose pane cannot be found
    std::optional<bool> pushRelayConfigured;       // absent: the host did not say

    static HostStatus fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const HostStatus&) const = default;
};

}  // namespace quib
