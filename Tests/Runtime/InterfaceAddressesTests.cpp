#include "Runtime/InterfaceAddresses.hpp"

#include <gtest/gtest.h>

namespace quib {
namespace {

using Entry = InterfaceAddresses::Entry;
using Family = InterfaceAddresses::Family;

Entry entry(const std::string& name, Family family, bool up = true, bool running = true, bool loopback = false) {
    return Entry{name, up, running, loopback, family, family == Family::other ? "" : "addr"};
}

TEST(InterfaceAddresses, ActiveNamesAreThoseUpAndRunningWithAnAddressButNotLoopback) {
    const std::vector<Entry> entries{
        entry("eth0", Family::ipv4),        entry("eth0", Family::ipv6),
        entry("wlan0", Family::ipv6),       entry("lo", Family::ipv4, true, true, true),
        entry("eth1", Family::ipv4, false), entry("veth0", Family::ipv4, true, false),
        entry("eth2", Family::other),
    };
    EXPECT_EQ(InterfaceAddresses::activeNames(entries), (std::set<std::string>{"eth0", "wlan0"}));
}

TEST(InterfaceAddresses, ListsThisMachinesAddressesAsNumbers) {
    bool loopbackSeen = false;
    for (const auto& e : InterfaceAddresses::list()) {
        if (e.family == Family::other) continue;
        EXPECT_FALSE(e.host.empty()) << e.name;
        if (e.isLoopback && e.family == Family::ipv4) loopbackSeen = loopbackSeen || e.host == "127.0.0.1";
    }
    EXPECT_TRUE(loopbackSeen);
}

}  // namespace
}  // namespace quib
