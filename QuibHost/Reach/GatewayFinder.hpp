#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuibHost/Reach/UDPExchange.hpp"
#include "Runtime/InterfaceAddresses.hpp"

namespace quib {

// The home router to ask for a port mapping: the default IPv4 gateway of the host's own network
// namespace, on a Wi-Fi link before a wired Ethernet one. Other links (ppp, wwan, tunnels, VPNs)
// never lead to it.
struct GatewayFinder {
    // The router's port-mapping endpoint (its address, UDP port 5351) and the link that reaches it.
    struct Gateway {
        UDPExchange::Endpoint endpoint;
        std::optional<UDPExchange::Interface> interface;
        bool operator==(const Gateway&) const = default;
    };

    // One row of /proc/net/route. Addresses are kept as the kernel prints them: the 32 bits of
    // the address in network order, read as a number of this machine.
    struct Route {
        std::string link;
        std::uint32_t destination = 0;
        std::uint32_t gateway = 0;
        std::uint32_t flags = 0;
        std::uint32_t metric = 0;
        std::uint32_t mask = 0;
        bool operator==(const Route&) const = default;
    };

    // What the host knows of one link.
    struct Link {
        std::string name;
        bool isUp = false;
        bool isRunning = false;
        InterfaceAddresses::LinkKind kind = InterfaceAddresses::LinkKind::other;
        std::string ipv4;  // its first IPv4 address; empty when it has none
        bool operator==(const Link&) const = default;
    };

    static constexpr std::uint16_t portMappingPort = 5351;

    GatewayFinder() = delete;

    // The gateway of the calling thread's network namespace, read now; nothing when it has no
    // default IPv4 route over an up Wi-Fi or wired Ethernet link.
    static std::optional<Gateway> find();

    // The rows of a route table in the form of /proc/net/route; the heading and lines that do
    // not read as a row are skipped.
    static std::vector<Route> parseRoutes(std::string_view table);

    // The default routes (destination and mask 0, up, through a gateway) over a link that is up
    // and running: Wi-Fi before wired Ethernet, then the lowest metric, then table order.
    static std::optional<Gateway> choose(const std::vector<Route>& routes, const std::vector<Link>& links);

    // The links of the calling thread's network namespace, as getifaddrs lists them.
    static std::vector<Link> links();
};

}  // namespace quib
