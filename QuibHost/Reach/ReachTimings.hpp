#pragma once

#include <chrono>
#include <memory>

#include "Runtime/Clock.hpp"

namespace quib {

// How long each wait of away reach lasts, and the clock the datagram exchanges keep to. One
// value is handed to the port mapper, the UPnP gateway and the address discovery when they are
// made; tests shorten every one of them, or give a clock of their own.
struct ReachTimings {
    // One PCP or NAT-PMP exchange with the router.
    Duration portMapping = std::chrono::milliseconds(900);
    // One STUN Binding exchange.
    Duration stun = std::chrono::milliseconds(1500);
    // When a request with no answer yet goes again within its exchange, the interval doubling
    // after each send: NAT-PMP and STUN as their standards start; PCP, whose standard starts at
    // 3 s, once more halfway through each of its two exchanges.
    Duration natpmpResend = std::chrono::milliseconds(250);
    Duration stunResend = std::chrono::milliseconds(500);
    Duration pcpResend = std::chrono::milliseconds(450);
    // The clock of those exchanges; none: the system clock.
    std::shared_ptr<Clock> clock = nullptr;
    // How long answers to an SSDP search are collected.
    Duration ssdpWindow = std::chrono::milliseconds(2500);
    // One HTTP request to the router's UPnP service.
    Duration http = std::chrono::seconds(6);
    // Connecting towards the router to learn the local address on its path.
    Duration localAddressProbe = std::chrono::seconds(3);
};

}  // namespace quib
