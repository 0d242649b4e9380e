#pragma once

#include <string>
#include <string_view>

#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>

namespace quib {

// How peer addresses are shown, judged and keyed. A dual-stack listener sees IPv4 peers as
// IPv4-mapped IPv6 addresses (::ffff:a.b.c.d); everywhere else they are plain IPv4.
struct PeerAddress {
    // The address with an IPv4-mapped IPv6 address turned into plain IPv4.
    static asio::ip::address plain(const asio::ip::address& address);

    // The source key of a peer: its plain address without interface scope; the port plays no
    // part, so every connection from one address shares one key.
    static std::string sourceKey(const asio::ip::tcp::endpoint& endpoint);

    // The same rule for an address already in text form: cut at every "%" (empty pieces left
    // out) and keep the first piece; "::ffff:a.b.c.d" becomes "a.b.c.d".
    static std::string sourceKeyOfHost(std::string_view host);

    // "a.b.c.d:port" or "[v6]:port", with the plain address.
    static std::string endpointText(const asio::ip::tcp::endpoint& endpoint);
};

}  // namespace quib
