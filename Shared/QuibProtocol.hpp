#pragma once

#include <string_view>

namespace quib {

// The protocol's constants: its version window and the local-network advertisement.
struct QuibProtocol {
    static constexpr int version = 23;
    static constexpr int minimumSupportedVersion = 5;
    static constexpr std::string_view bonjourType = "_quib._tcp";
    static constexpr std::string_view txtVersionKey = "v";
    static constexpr std::string_view txtMinVersionKey = "vmin";
    static constexpr std::string_view txtHostKey = "host";

    // True exactly for the client versions the host serves.
    static constexpr bool supports(long long clientVersion) {
        return clientVersion >= minimumSupportedVersion && clientVersion <= version;
    }
};

}  // namespace quib
