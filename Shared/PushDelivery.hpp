#pragma once

#include <cstdint>
#include <string>

#include "Shared/AgentAlert.hpp"

namespace quib {

// One push to send: the alert for one phone, with that phone's device token and push
// environment, the collapse identifier (always the alert's id, so a newer alert of the same
// target or request replaces the older on the phone) and when the push service should drop it.
struct PushDelivery {
    std::string deviceID;
    std::string token;
    bool usesSandbox = false;
    AgentAlert alert;
    std::string collapseID;
    std::int64_t expiresAtEpochMillis = 0;

    bool operator==(const PushDelivery&) const = default;
};

}  // namespace quib
