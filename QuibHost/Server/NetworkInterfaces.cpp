#include "QuibHost/Server/NetworkInterfaces.hpp"

#include <filesystem>
#include <fstream>

#include "QuibHost/Server/PeerAddress.hpp"
#include "Runtime/InterfaceAddresses.hpp"

namespace quib {

namespace {

std::string interfaceType(const InterfaceAddresses::Entry& entry) {
    if (entry.isLoopback) return "loopback";
    const std::filesystem::path device = std::filesystem::path("/sys/class/net") / entry.name;
    std::error_code error;
    if (std::filesystem::exists(device / "wireless", error)) return "wifi";
    std::ifstream typeFile(device / "type");
    int type = 0;
    if (typeFile >> type && type == 1) return "wiredEthernet";  // ARPHRD_ETHER
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
