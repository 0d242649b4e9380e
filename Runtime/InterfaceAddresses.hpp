#pragma once

#include <set>
#include <string>
#include <vector>

namespace quib {

// The computer's own interface addresses, as the system lists them (getifaddrs), in its order.
struct InterfaceAddresses {
    enum class Family { ipv4, ipv6, other };
    enum class LinkKind { wifi, wiredEthernet, other };

    struct Entry {
        std::string name;
        bool isUp = false;
        bool isRunning = false;
        bool isLoopback = false;
        Family family = Family::other;
        // The numeric text of an IPv4 or IPv6 address (an IPv6 one may end in "%zone"); empty
        // for other families and when the address could not be written.
        std::string host;
    };

    // Every entry; empty when the system will not list them.
    static std::vector<Entry> list();

    // The names of the interfaces that are up and running, are not loopback and hold an IPv4
    // or IPv6 address: the set whose change means the host's network changed.
    static std::set<std::string> activeNames(const std::vector<Entry>& entries);

    // What the link named `name` is, asked of the calling thread's network namespace (never of
    // /sys/class/net, which shows the namespace that mounted it): Wi-Fi when it answers the
    // wireless name request, wired Ethernet when its hardware type is Ethernet, otherwise other.
    // A link that cannot be asked is other.
    static LinkKind linkKind(const std::string& name);
};

}  // namespace quib
