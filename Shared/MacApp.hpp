#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Runtime/Bytes.hpp"
#include "Shared/Json.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// One application as the phone's app catalog shows it; identified by its bundle identifier.
struct MacApp {
    std::string bundleID;
    std::string name;
    std::optional<Bytes> icon;  // PNG bytes, only where the catalog attaches icons
    std::string symbol = "app";
    bool isRunning = false;
    bool isAdded = false;
    std::int64_t useCount = 0;
    std::optional<std::int64_t> lastUsedEpochMillis;

    const std::string& id() const { return bundleID; }
    // A new app target for this app, with a fresh identifier.
    QuibTarget asTarget() const;

    static MacApp fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const MacApp&) const = default;
};

}  // namespace quib
