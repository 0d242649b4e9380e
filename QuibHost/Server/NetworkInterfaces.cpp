#include "QuibHost/Server/NetworkInterfaces.hpp"

#include "QuibHost/Connection/PeerAddress.hpp"

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

// An IPv6 address matches whatever its zone.
bool same(const asio::ip::address& own, const asio::ip::address& address) {
    if (own.is_v6() && address.is_v6()) return own.to_v6().to_bytes() == address.to_v6().to_bytes();
    return own == address;
}

}  // namespace

NetworkInterfaces::NetworkInterfaces(Lister list)
    : list_(list ? std::move(list) : [] { return InterfaceAddresses::list(); }) {}

std::vector<NetworkInterfaces::Known> NetworkInterfaces::read() const {
    std::vector<Known> known;
    for (const auto& entry : list_()) {
        if (entry.host.empty()) continue;
        std::error_code error;
        const auto own = asio::ip::make_address(entry.host.substr(0, entry.host.find('%')), error);
        if (!error) known.push_back(Known{own, entry.name + "(" + interfaceType(entry) + ")"});
    }
    return known;
}

// The list is read under the lock, so a change reported meanwhile is never overwritten by what
// was read before it.
std::string NetworkInterfaces::describe(const asio::ip::address& localAddress) {
    const asio::ip::address address = PeerAddress::plain(localAddress);
    MutexLock lock(mutex_);
    if (!known_ || !keep_) known_ = read();
    std::string text;
    for (const auto& entry : *known_) {
        if (!same(entry.address, address)) continue;
        if (!text.empty()) text += ",";
        text += entry.label;
    }
    return text;
}

void NetworkInterfaces::keepUntilChanged() {
    MutexLock lock(mutex_);
    keep_ = true;
    known_.reset();
}

void NetworkInterfaces::changed() {
    MutexLock lock(mutex_);
    known_.reset();
}

}  // namespace quib
