#include "Runtime/InterfaceAddresses.hpp"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <memory>

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

}  // namespace quib
