#include "QuibHost/Reach/PublicAddress.hpp"

#include <algorithm>
#include <atomic>

#include "QuibHost/Reach/UDPExchange.hpp"
#include "QuibHost/Reach/Wire/PortMapWire.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/SecureRandom.hpp"
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
        // VPN tunnels, whose only addresses worth offering are overlay ones.
        if (startsWithAny(entry.name, {"utun", "tailscale", "tun", "wg"})) {
            addOverlay(entry, addresses);
            continue;
        }
        // Links a phone cannot come through: peer-to-peer Wi-Fi, tunnels, and the bridges of
        // containers and virtual machines. "br0" and the like are often the real LAN and stay.
        if (startsWithAny(entry.name, {"awdl", "llw", "bridge", "ipsec", "gif", "stf", "docker", "br-", "virbr", "veth",
                                       "vnet", "lxcbr", "vboxnet", "vmnet"}))
            continue;
        addPlain(entry, addresses);
    }
    return addresses;
}

const std::vector<std::string>& PublicAddress::builtInServers() {
    static const std::vector<std::string> servers(serversKey.rule().fallback.begin(), serversKey.rule().fallback.end());
    return servers;
}

std::vector<std::string> PublicAddress::servers(const Settings& settings) {
    if (auto stored = settings.get(serversKey)) return std::move(*stored);
    static std::atomic<bool> told{false};
    if (settings.contains(serversKey) && !told.exchange(true)) {
        quibLog().warning(pub(serversKey.row().ignoredLine({})));
    }
    return builtInServers();
}

std::optional<StunWire::Reflexive> PublicAddress::reflexive(const std::vector<std::string>& servers,
                                                            const UDPExchange::Schedule& schedule,
                                                            const CancelToken& cancel) {
    for (const std::string& text : servers) {
        if (cancel.isCancelled()) return std::nullopt;
        const auto server = StunWire::server(text);
        if (!server) continue;
        const Bytes transaction = secureRandomBytes(StunWire::transactionLength);
        const auto request = StunWire::request(transaction);
        if (!request) continue;
        const auto answer = UDPExchange::ask(*request, {server->host, server->port}, std::nullopt, schedule, cancel);
        if (!answer) continue;
        if (auto address = StunWire::reflexiveAddress(answer->reply, transaction)) {
            quibLog().info("away: the internet sees ", pub(address->host));
            return address;
        }
        if (auto code = StunWire::errorCode(answer->reply)) {
            quibLog().info("away: STUN server ", pub(text), " answered ", *code);
        }
    }
    return std::nullopt;
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
