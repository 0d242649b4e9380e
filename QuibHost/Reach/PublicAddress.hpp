#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Runtime/InterfaceAddresses.hpp"

namespace quib {

// The host's own addresses as remote reach sees them.
struct PublicAddress {
    struct Addresses {
        std::vector<std::string> local;   // IPv4 addresses and overlay-VPN addresses
        std::vector<std::string> global;  // globally routable IPv6 addresses, without zone
        bool operator==(const Addresses&) const = default;
    };

    // The addresses of the interfaces that are up, in the system's order; duplicates stay.
    static Addresses interfaces();
    static Addresses interfaces(const std::vector<InterfaceAddresses::Entry>& entries);

    // 2000::/3, except 2001:0000::/32, 2001:db8::/32 and 2002::/16.
    static bool isGloballyRoutableIPv6(std::string_view text);
};

}  // namespace quib
