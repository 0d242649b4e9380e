#include "QuibHost/Reach/PublicAddress.hpp"

#include <algorithm>

#include "QuibHost/Reach/Wire/PortMapWire.hpp"
#include "Shared/OverlayAddress.hpp"

namespace quib {

namespace {

using Entry = InterfaceAddresses::Entry;
using Family = InterfaceAddresses::Family;

bool startsWithAny(std::string_view name, std::initializer_list<std::string_view> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(), [&](std::string_view p) { return name.starts_with(p); });
}

// Overlay-VPN interfaces contribute only their overlay addresses, as local ones.
void addOverlay(const Entry& entry, PublicAddress::Addresses& addresses) {
    if (entry.family != Family::other && OverlayAddress::contains(entry.host)) addresses.local.push_back(entry.host);
}

void addPlain(const Entry& entry, PublicAddress::Addresses& addresses) {
    if (entry.family == Family::ipv6) {
        const std::string host = entry.host.substr(0, entry.host.find('%'));
        if (PublicAddress::isGloballyRoutableIPv6(host)) addresses.global.push_back(host);
    } else if (entry.family == Family::ipv4 && !entry.host.starts_with("169.254.")) {
        addresses.local.push_back(entry.host);
    }
}

}  // namespace

PublicAddress::Addresses PublicAddress::interfaces() { return interfaces(InterfaceAddresses::list()); }

PublicAddress::Addresses PublicAddress::interfaces(const std::vector<Entry>& entries) {
    Addresses addresses;
    for (const Entry& entry : entries) {
        if (!entry.isUp || entry.isLoopback || entry.host.empty()) continue;
        if (startsWithAny(entry.name, {"utun", "tailscale"})) {
            addOverlay(entry, addresses);
            continue;
        }
        if (startsWithAny(entry.name, {"awdl", "llw", "bridge", "ipsec", "gif", "stf"})) continue;
        addPlain(entry, addresses);
    }
    return addresses;
}

bool PublicAddress::isGloballyRoutableIPv6(std::string_view text) {
    const auto bytes = PortMapWire::ipv6Bytes(text);
    if (!bytes) return false;
    const Bytes& b = *bytes;
    if ((b[0] & 0xE0) != 0x20) return false;
    const bool teredo = b[0] == 0x20 && b[1] == 0x01 && b[2] == 0x00 && b[3] == 0x00;
    const bool documentation = b[0] == 0x20 && b[1] == 0x01 && b[2] == 0x0D && b[3] == 0xB8;
    const bool sixToFour = b[0] == 0x20 && b[1] == 0x02;
    return !teredo && !documentation && !sixToFour;
}

}  // namespace quib
