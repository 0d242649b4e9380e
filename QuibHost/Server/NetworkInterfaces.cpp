#include "QuibHost/Server/NetworkInterfaces.hpp"

#include "QuibHost/Server/PeerAddress.hpp"
#include "Runtime/InterfaceAddresses.hpp"

namespace quib {

namespace {

std::string interfaceType(const InterfaceAddresses::Entry& entry) {
    if (entry.isLoopback) return "loopback";
    switch (InterfaceAddresses::linkKind(entry.name)) {
        case InterfaceAddresses::LinkKind::wifi: return "wifi";
        case InterfaceAddresses::LinkKind::wiredEthernet: return "wiredEthernet";
        case InterfaceAddresses::LinkKind::other: break;
    }
    return "other";
}

bool holds(const InterfaceAddresses::Entry& entry, const asio::ip::address& address) {
    if (entry.host.empty()) return false;
    std::error_code error;
    const auto own = asio::ip::make_address(entry.host.substr(0, entry.host.find('%')), error);
    if (error) return false;
    if (own.is_v6() && address.is_v6()) return own.to_v6().to_bytes() == address.to_v6().to_bytes();
    return own == address;
}

}  // namespace

std::string NetworkInterfaces::describe(const asio::ip::address& localAddress) {
    const asio::ip::address address = PeerAddress::plain(localAddress);
    std::string text;
    for (const auto& entry : InterfaceAddresses::list()) {
        if (!holds(entry, address)) continue;
        if (!text.empty()) text += ",";
        text += entry.name + "(" + interfaceType(entry) + ")";
    }
    return text;
}

}  // namespace quib
