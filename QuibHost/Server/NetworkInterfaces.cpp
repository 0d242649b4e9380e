#include "QuibHost/Server/NetworkInterfaces.hpp"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "QuibHost/Server/PeerAddress.hpp"

namespace quib {

namespace {

std::string interfaceType(const std::string& name, unsigned flags) {
    if (flags & IFF_LOOPBACK) return "loopback";
    const std::filesystem::path device = std::filesystem::path("/sys/class/net") / name;
    std::error_code error;
    if (std::filesystem::exists(device / "wireless", error)) return "wifi";
    std::ifstream typeFile(device / "type");
    int type = 0;
    if (typeFile >> type && type == 1) return "wiredEthernet";  // ARPHRD_ETHER
    return "other";
}

bool holds(const ifaddrs& entry, const asio::ip::address& address) {
    if (!entry.ifa_addr) return false;
    if (entry.ifa_addr->sa_family == AF_INET && address.is_v4()) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry.ifa_addr);
        return ntohl(in->sin_addr.s_addr) == address.to_v4().to_uint();
    }
    if (entry.ifa_addr->sa_family == AF_INET6 && address.is_v6()) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry.ifa_addr);
        const auto bytes = address.to_v6().to_bytes();
        return std::memcmp(in6->sin6_addr.s6_addr, bytes.data(), bytes.size()) == 0;
    }
    return false;
}

}  // namespace

std::string NetworkInterfaces::describe(const asio::ip::address& localAddress) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return "";
    std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owned(list, &freeifaddrs);
    const asio::ip::address address = PeerAddress::plain(localAddress);
    std::string text;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!holds(*entry, address)) continue;
        const std::string name = entry->ifa_name ? entry->ifa_name : "";
        if (!text.empty()) text += ",";
        text += name + "(" + interfaceType(name, entry->ifa_flags) + ")";
    }
    return text;
}

}  // namespace quib
