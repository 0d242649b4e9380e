#pragma once

#include <string>

#include <asio/ip/address.hpp>

namespace quib {

// The network interfaces a connection runs over, for log lines.
struct NetworkInterfaces {
    // Each interface holding `localAddress`, as its name followed by its type in parentheses
    // ("loopback", "wifi", "wiredEthernet" or "other"), joined by ","; empty when none matches.
    static std::string describe(const asio::ip::address& localAddress);
};

}  // namespace quib
