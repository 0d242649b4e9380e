#include <gtest/gtest.h>

#include "QuibHost/Connection/PeerAddress.hpp"

using namespace quib;

TEST(PeerAddress, MappedIPv4IsShownAndKeyedAsPlainIPv4) {
    const asio::ip::tcp::endpoint mapped(asio::ip::make_address("::ffff:192.168.1.20"), 50123);
    EXPECT_EQ(PeerAddress::sourceKey(mapped), "192.168.1.20");
    EXPECT_EQ(PeerAddress::endpointText(mapped), "192.168.1.20:50123");
    EXPECT_EQ(PeerAddress::plain(mapped.address()), asio::ip::make_address("192.168.1.20"));
    EXPECT_EQ(PeerAddress::sourceKeyOfHost("::ffff:10.1.2.3"), "10.1.2.3");
    EXPECT_EQ(PeerAddress::sourceKeyOfHost("::FFFF:10.1.2.3"), "10.1.2.3");
}

TEST(PeerAddress, PortAndInterfaceScopeDoNotChangeTheKey) {
    const asio::ip::tcp::endpoint a(asio::ip::make_address("10.0.0.7"), 1111);
    const asio::ip::tcp::endpoint b(asio::ip::make_address("10.0.0.7"), 2222);
    EXPECT_EQ(PeerAddress::sourceKey(a), PeerAddress::sourceKey(b));

    auto scoped = asio::ip::make_address_v6("fe80::1");
    scoped.scope_id(2);
    const asio::ip::tcp::endpoint withScope(scoped, 5);
    const asio::ip::tcp::endpoint withoutScope(asio::ip::make_address("fe80::1"), 6);
    EXPECT_EQ(PeerAddress::sourceKey(withScope), "fe80::1");
    EXPECT_EQ(PeerAddress::sourceKey(withScope), PeerAddress::sourceKey(withoutScope));
    EXPECT_EQ(PeerAddress::sourceKeyOfHost("fe80::1%en0"), "fe80::1");
}

TEST(PeerAddress, TextWithOnlyScopeSignsIsKeptWhole) {
    EXPECT_EQ(PeerAddress::sourceKeyOfHost("%lo"), "lo");
    EXPECT_EQ(PeerAddress::sourceKeyOfHost("%%"), "%%");
    EXPECT_EQ(PeerAddress::sourceKeyOfHost(""), "");
    EXPECT_EQ(PeerAddress::endpointText({asio::ip::make_address("2001:db8::5"), 80}), "[2001:db8::5]:80");
}
