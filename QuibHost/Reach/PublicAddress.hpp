#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "QuibHost/Reach/UDPExchange.hpp"
#include "QuibHost/Reach/Wire/StunWire.hpp"
#include "Runtime/CancelToken.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/InterfaceAddresses.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"

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

    // The STUN servers to ask, "host:port" each, in order.
    static constexpr auto serversKey = setting<"quib.stunServers">;
    static const std::vector<std::string>& builtInServers();
    // The list stored under `serversKey` as it is, even when empty; the built-in servers when
    // there is none or it holds anything but texts.
    static std::vector<std::string> servers(const Settings& settings);

    // Asks each usable server in order, with a fresh transaction sent as `schedule` says, and
    // gives the first address that comes back. A server that answers with an error is logged
    // and skipped; a silent one costs the schedule's time-out. Blocks; nothing after a cancel.
    static std::optional<StunWire::Reflexive> reflexive(const std::vector<std::string>& servers,
                                                        const UDPExchange::Schedule& schedule,
                                                        const CancelToken& cancel);

    // 2000::/3, except 2001:0000::/32, 2001:db8::/32 and 2002::/16.
    static bool isGloballyRoutableIPv6(std::string_view text);
};

}  // namespace quib
