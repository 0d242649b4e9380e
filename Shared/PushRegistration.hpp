#pragma once

#include <optional>
#include <string>

#include "Shared/AlertSettings.hpp"
#include "Shared/Json.hpp"

namespace quib {

// A phone's request for pushed alerts: its push token (absent or empty asks the host to stop
// pushing to it), whether the token is for the sandbox environment, and its alert settings.
// Every key may be missing; a present value of the wrong type fails the record.
struct PushRegistration {
    std::optional<std::string> token;
    bool usesSandbox = false;
    AlertSettings settings;

    static PushRegistration fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const PushRegistration&) const = default;
};

}  // namespace quib
