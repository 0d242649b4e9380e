#include "QuibHost/Connection/PeerAddress.hpp"

#include <algorithm>
#include <cctype>

namespace quib {

asio::ip::address PeerAddress::plain(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

std::string PeerAddress::sourceKey(const asio::ip::tcp::endpoint& endpoint) {
    return sourceKeyOfHost(plain(endpoint.address()).to_string());
}

namespace {

bool startsWithMappedPrefix(std::string_view host) {
    constexpr std::string_view prefix = "::ffff:";
    if (host.size() <= prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), host.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

}  // namespace

std::string PeerAddress::sourceKeyOfHost(std::string_view host) {
    std::string_view key = host;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = host.find('%', start);
        const std::string_view piece = host.substr(start, end == std::string_view::npos ? host.npos : end - start);
        if (!piece.empty()) {
            key = piece;
            break;
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (startsWithMappedPrefix(key)) {
        std::error_code error;
        const auto v4 = asio::ip::make_address_v4(std::string(key.substr(7)), error);
        if (!error) return v4.to_string();
    }
    return std::string(key);
}

std::string PeerAddress::endpointText(const asio::ip::tcp::endpoint& endpoint) {
    const asio::ip::address address = plain(endpoint.address());
    const std::string port = std::to_string(endpoint.port());
    if (address.is_v6()) return "[" + address.to_string() + "]:" + port;
    return address.to_string() + ":" + port;
}

}  // namespace quib
