#include "Runtime/InterfaceAddresses.hpp"

#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <array>
#include <cstring>
#include <memory>

#include "Runtime/FileDescriptor.hpp"

namespace quib {

namespace {

InterfaceAddresses::Family familyOf(const sockaddr* address) {
    if (!address) return InterfaceAddresses::Family::other;
    if (address->sa_family == AF_INET) return InterfaceAddresses::Family::ipv4;
    if (address->sa_family == AF_INET6) return InterfaceAddresses::Family::ipv6;
    return InterfaceAddresses::Family::other;
}

std::string numericHost(const sockaddr* address, InterfaceAddresses::Family family) {
    if (family == InterfaceAddresses::Family::other) return {};
    const socklen_t length = family == InterfaceAddresses::Family::ipv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    std::array<char, 1025> text{};
    if (getnameinfo(address, length, text.data(), text.size(), nullptr, 0, NI_NUMERICHOST) != 0) return {};
    return text.data();
}

// The wireless extensions' name request: only a Wi-Fi driver answers it (others give ENOTTY).
// Its request block is an interface name followed by a union smaller than that of `ifreq`, so an
// `ifreq` serves.
constexpr unsigned long wirelessNameRequest = 0x8B01;  // SIOCGIWNAME

}  // namespace

std::vector<InterfaceAddresses::Entry> InterfaceAddresses::list() {
    ifaddrs* first = nullptr;
    if (getifaddrs(&first) != 0) return {};
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owned(first, &freeifaddrs);
    std::vector<Entry> entries;
    for (const ifaddrs* item = first; item; item = item->ifa_next) {
        Entry entry;
        entry.name = item->ifa_name ? item->ifa_name : "";
        entry.isUp = (item->ifa_flags & IFF_UP) != 0;
        entry.isRunning = (item->ifa_flags & IFF_RUNNING) != 0;
        entry.isLoopback = (item->ifa_flags & IFF_LOOPBACK) != 0;
        entry.family = familyOf(item->ifa_addr);
        entry.host = numericHost(item->ifa_addr, entry.family);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::set<std::string> InterfaceAddresses::activeNames(const std::vector<Entry>& entries) {
    std::set<std::string> names;
    for (const Entry& entry : entries) {
        if (!entry.isUp || !entry.isRunning || entry.isLoopback || entry.family == Family::other) continue;
        names.insert(entry.name);
    }
    return names;
}

InterfaceAddresses::LinkKind InterfaceAddresses::linkKind(const std::string& name) {
    if (name.empty() || name.size() >= IFNAMSIZ) return LinkKind::other;
    const FileDescriptor probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!probe.isOpen()) return LinkKind::other;
    ifreq request{};
    std::memcpy(request.ifr_name, name.data(), name.size());
    if (::ioctl(probe.get(), wirelessNameRequest, &request) == 0) return LinkKind::wifi;
    request = ifreq{};
    std::memcpy(request.ifr_name, name.data(), name.size());
    if (::ioctl(probe.get(), SIOCGIFHWADDR, &request) != 0) return LinkKind::other;
    return request.ifr_hwaddr.sa_family == ARPHRD_ETHER ? LinkKind::wiredEthernet : LinkKind::other;
}

}  // namespace quib
