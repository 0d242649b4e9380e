#include "QuibHost/Reach/Wire/PortMapWire.hpp"

#include <gtest/gtest.h>

namespace quib {
namespace {

TEST(PortMapWire, PrivateIPv4RangesAndTextThatIsNoAddress) {
    for (const char* text : {"10.0.0.1", "100.64.0.1", "100.127.255.255", "127.0.0.1", "169.254.3.4", "172.16.0.1",
                             "172.31.0.1", "192.168.1.9", "192.168.x.1.20"}) {
        EXPECT_TRUE(PortMapWire::isPrivateIPv4(text)) << text;
    }
    for (const char* text : {"100.128.0.1", "100.63.0.1", "172.15.0.1", "172.32.0.1", "8.8.8.8", "203.0.113.9",
                             "10.0.0", "10.0.0.256", "10.-1.0.1", "", "fd00::1"}) {
        EXPECT_FALSE(PortMapWire::isPrivateIPv4(text)) << text;
    }
}

TEST(PortMapWire, Ipv6BytesDropTheZone) {
    const auto bytes = PortMapWire::ipv6Bytes("fe80::1%en0");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 16u);
    EXPECT_EQ((*bytes)[0], 0xFE);
    EXPECT_EQ((*bytes)[15], 0x01);
    EXPECT_FALSE(PortMapWire::ipv6Bytes("192.168.1.9"));
    EXPECT_FALSE(PortMapWire::ipv6Bytes("%en0"));
    EXPECT_FALSE(PortMapWire::ipv6Bytes("fe80::1::2"));
}

TEST(PortMapWire, SameNetworkTable) {
    const std::vector<std::string> own{"not an address", "2001:db8:aa:bb::10"};
    struct Case {
        const char* peer;
        bool local;
    };
    for (const Case& c : {Case{"fe80::1%en0", true}, Case{"fd12::5", true}, Case{"::1", true}, Case{"192.168.1.9", true},
                          Case{"203.0.113.9", false}, Case{"%en0", false}, Case{"", false}, Case{"not an address", false},
                          Case{"2001:db8:aa:bb::99", true}, Case{"2001:db8:aa:bc::99", false},
                          // Judged as IPv6: it contains a colon, so only the prefix could make it local.
                          Case{"::ffff:192.168.1.9", false}}) {
        EXPECT_EQ(PortMapWire::isOnSameNetwork(c.peer, own), c.local) << c.peer;
    }
    EXPECT_TRUE(PortMapWire::isOnSameNetwork("::ffff:192.168.1.9", {"::ffff:10.0.0.1"}));
}

}  // namespace
}  // namespace quib
