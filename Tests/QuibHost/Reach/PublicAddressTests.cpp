#include "QuibHost/Reach/PublicAddress.hpp"

#include <gtest/gtest.h>

namespace quib {
namespace {

using Entry = InterfaceAddresses::Entry;
using Family = InterfaceAddresses::Family;

Entry entry(const std::string& name, Family family, const std::string& host) {
    Entry e;
    e.name = name;
    e.isUp = e.isRunning = true;
    e.family = family;
    e.host = host;
    return e;
}

TEST(PublicAddress, GloballyRoutableIPv6Table) {
    for (const char* text : {"2a01::1", "3fff::1", "2001:1::1", "2600:1f18::5"}) {
        EXPECT_TRUE(PublicAddress::isGloballyRoutableIPv6(text)) << text;
    }
    for (const char* text : {"fe80::1%en0", "fd00::1", "2001:db8::1", "2002::1", "2001::1", "ff02::1", "::1", "::",
                             "4000::1", "1fff::1", "192.0.2.1", ""}) {
        EXPECT_FALSE(PublicAddress::isGloballyRoutableIPv6(text)) << text;
    }
}

TEST(PublicAddress, InterfacesSortLocalFromGlobalAndSkipWhatCannotBeReached) {
    Entry down = entry("eth1", Family::ipv4, "192.168.9.9");
    down.isUp = false;
    Entry loopback = entry("lo", Family::ipv4, "127.0.0.1");
    loopback.isLoopback = true;
    const std::vector<Entry> entries{
        entry("eth0", Family::ipv4, "192.168.1.20"),
        entry("eth0", Family::ipv6, "2a01:e0a::5"),
        entry("eth0", Family::ipv6, "fe80::1%eth0"),
        entry("eth0", Family::other, ""),
        entry("en0", Family::ipv4, "169.254.3.4"),
        entry("utun4", Family::ipv4, "100.101.102.103"),
        entry("utun4", Family::ipv4, "10.8.0.2"),
        entry("tailscale0", Family::ipv6, "fd7a:115c:a1e0::1"),
        entry("bridge0", Family::ipv4, "192.168.2.1"),
        entry("awdl0", Family::ipv6, "2a01:e0a::6"),
        down,
        loopback,
        entry("eth0", Family::ipv4, "192.168.1.20"),
    };
    const auto addresses = PublicAddress::interfaces(entries);
    EXPECT_EQ(addresses.local,
              (std::vector<std::string>{"192.168.1.20", "100.101.102.103", "fd7a:115c:a1e0::1", "192.168.1.20"}));
    EXPECT_EQ(addresses.global, std::vector<std::string>{"2a01:e0a::5"});
}

}  // namespace
}  // namespace quib
