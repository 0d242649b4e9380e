#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Shared/Json.hpp"

namespace quib {

// The answer to a delivery of text or an image. Decoded strictly: only `targetID` may be missing.
struct DeliveryReceipt {
    bool ok = false;
    std::optional<std::string> targetID;  // absent when no target was named and none was active
    std::string targetName;
    std::int64_t characters = 0;  // user-perceived characters delivered
    bool submitted = false;       // Return or Enter was pressed afterwards
    std::string message;          // a sentence for the user

    static DeliveryReceipt fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const DeliveryReceipt&) const = default;
};

}  // namespace quib
