#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Bytes.hpp"

namespace quib {

// Address tests of port mapping, free of state and safe on any thread: IPv6 text to bytes, the
// private-IPv4 test, and whether a peer is on the host's own network.
struct PortMapWire {
    // The 16 bytes of an IPv6 address; a "%zone" suffix is dropped first. Nothing when the text
    // is no IPv6 address.
    static std::optional<Bytes> ipv6Bytes(std::string_view text);

    // Four dotted decimal numbers of 0...255 (pieces that are not numbers are dropped) in a
    // private, shared (100.64.0.0/10), loopback or link-local range.
    static bool isPrivateIPv4(std::string_view text);

    // Whether a peer at `peer` is on the host's own network: a private IPv4 address, an IPv6
    // link-local, unique-local or loopback address, or one that shares the /64 prefix of one of
    // `ownAddresses`. Anything containing a colon is judged as IPv6, so an IPv4-mapped address
    // counts only through the prefix comparison.
    static bool isOnSameNetwork(std::string_view peer, const std::vector<std::string>& ownAddresses);

    // The text before the first non-empty "%"-separated piece is kept; none gives empty text.
    static std::string_view withoutZone(std::string_view text);
};

}  // namespace quib
