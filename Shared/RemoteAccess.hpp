#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Runtime/SettingsTable.hpp"

namespace quib {

// The away listener's fixed facts, shared with the phone: its default port, the length of an
// away key, and the pre-shared-key identity of a device's away key.
struct RemoteAccess {
    static constexpr std::uint16_t defaultPort = setting<"quib.awayPort">.rule().fallback;
    static constexpr std::size_t keyLength = 32;
    static constexpr std::string_view identityPrefix = "quib.away.1.";

    // "quib.away.1." followed by the device identifier exactly as the phone gave it.
    static std::string identity(std::string_view deviceID) {
        std::string text(identityPrefix);
        text += deviceID;
        return text;
    }
};

}  // namespace quib
