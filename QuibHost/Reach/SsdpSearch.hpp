#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/HttpPoster.hpp"
#include "QuibHost/Reach/UDPExchange.hpp"
#include "Runtime/CancelToken.hpp"
#include "Runtime/Clock.hpp"

namespace quib {

// Looks for UPnP Internet Gateway Devices on the local network: one SSDP search, whose answers
// are collected for a fixed window that is always waited out. Each call makes its own socket and
// blocks its thread, so it belongs on a worker.
//
// An answer counts only when its LOCATION is an http URL on the very IPv4 address the answer came
// from: any device on the network may answer, and must not be able to point the host's HTTP
// requests at another machine, or at the host's own local services.
class SsdpSearch {
public:
    // Where the searches go. The multicast group of SSDP; tests aim the search, unicast, at a
    // responder on 127.0.0.1.
    struct Destination {
        std::string address = "239.255.255.250";
        std::uint16_t port = 1900;
    };

    // Longer datagrams are no answer.
    static constexpr std::size_t maxDatagram = 8192;
    // Locations kept from one search; the rest are dropped.
    static constexpr std::size_t maxLocations = 16;
    // How far the searches travel: the hop limit UPnP devices expect.
    static constexpr int multicastTTL = 2;

    // `urls` reads each LOCATION the way the requests to it will be read.
    SsdpSearch(std::shared_ptr<const HttpPoster> urls, Duration window);
    SsdpSearch(std::shared_ptr<const HttpPoster> urls, Duration window, Destination destination);

    // Sends one search per target and gives the locations answered within the window, in the
    // order they came, without duplicates. With an interface, the socket is bound to its address
    // and the searches leave by it. Nothing once the token is cancelled, at once.
    std::vector<HttpUrl> discover(const std::optional<UDPExchange::Interface>& interface,
                                  const CancelToken& cancel) const;

private:
    // The answer's location when it counts.
    std::optional<HttpUrl> locationIn(std::string_view answer, const std::string& source) const;

    std::shared_ptr<const HttpPoster> urls_;
    Duration window_;
    Destination destination_;
};

}  // namespace quib
