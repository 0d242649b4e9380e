#pragma once

#include <chrono>

#include "Runtime/Clock.hpp"

namespace quib {

// How long each wait of away reach lasts. One value is handed to the port mapper, the UPnP
// gateway and the address discovery when they are made; tests shorten every one of them.
struct ReachTimings {
    // One PCP or NAT-PMP exchange with the router.
    Duration portMapping = std::chrono::milliseconds(900);
    // One STUN Binding exchange.
    Duration stun = std::chrono::milliseconds(1500);
    // How long answers to an SSDP search are collected.
    Duration ssdpWindow = std::chrono::milliseconds(2500);
    // One HTTP request to the router's UPnP service.
    Duration http = std::chrono::seconds(6);
    // Connecting towards the router to learn the local address on its path.
    Duration localAddressProbe = std::chrono::seconds(3);
};

}  // namespace quib
