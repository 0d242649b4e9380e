#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "Runtime/Clock.hpp"

namespace quib {

// How much the user has used each application, as the desktop counts it.
class AppUsage {
public:
    struct Use {
        std::int64_t count = 0;
        std::optional<WallTime> lastUsed;
        bool operator==(const Use&) const = default;
    };
    // By lower-cased desktop ID ("org.gnome.terminal"); an app not in it was never used.
    using Table = std::map<std::string, Use, std::less<>>;

    virtual ~AppUsage() = default;

    // Read afresh on each call: one ranking pass asks once. Empty when the desktop keeps no
    // count or it cannot be read. Any thread may ask.
    virtual Table uses() const = 0;
};

}  // namespace quib
