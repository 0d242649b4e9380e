#include "QuibHost/Reach/Wire/PortMapWire.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "Tests/Support/WireBytes.hpp"

namespace quib {
namespace {

using namespace quib::testing;

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
    for (const Case& c :
         {Case{"fe80::1%en0", true}, Case{"fd12::5", true}, Case{"::1", true}, Case{"192.168.1.9", true},
          Case{"203.0.113.9", false}, Case{"%en0", false}, Case{"", false}, Case{"not an address", false},
          Case{"2001:db8:aa:bb::99", true}, Case{"2001:db8:aa:bc::99", false},
          // Judged as IPv6: it contains a colon, so only the prefix could make it local.
          Case{"::ffff:192.168.1.9", false}}) {
        EXPECT_EQ(PortMapWire::isOnSameNetwork(c.peer, own), c.local) << c.peer;
    }
    EXPECT_TRUE(PortMapWire::isOnSameNetwork("::ffff:192.168.1.9", {"::ffff:10.0.0.1"}));
}

TEST(PortMapWire, BigEndianReadsNeverLeaveTheBuffer) {
    Bytes written;
    appendBigEndian(written, 0x2112A442);
    appendBigEndian16(written, 0xEFEF);
    EXPECT_EQ(written, hex("21 12 A4 42 EF EF"));

    const Bytes eight = hex("00 01 02 03 C0 A8 01 14");
    EXPECT_EQ(bigEndian(eight, 4), 0xC0A80114u);
    EXPECT_EQ(bigEndian(std::span(eight).first(7), 4), 0u);
    EXPECT_EQ(bigEndian16(eight, 6), 0x0114u);
    EXPECT_EQ(bigEndian16(eight, 7), 0u);
    constexpr auto most = std::numeric_limits<std::int64_t>::max();
    for (const std::int64_t offset : {std::int64_t{-1}, std::int64_t{-4}, most, most - 2}) {
        EXPECT_EQ(bigEndian(eight, offset), 0u) << offset;
        EXPECT_EQ(bigEndian16(eight, offset), 0u) << offset;
    }
}

TEST(PortMapWire, NATPMPMessagesByteForByte) {
    EXPECT_EQ(PortMapWire::NATPMP::mapRequest(61423, 61423, 7200), hex("00 02 00 00 EF EF EF EF 00 00 1C 20"));
    EXPECT_EQ(
        Bytes(PortMapWire::NATPMP::externalAddressRequest.begin(), PortMapWire::NATPMP::externalAddressRequest.end()),
        hex("00 00"));

    const Bytes map = hex("00 82 00 03 00 01 51 80 EF EF 9C 41 00 00 1C 20");
    EXPECT_EQ(PortMapWire::NATPMP::parseMapResponse(map),
              (PortMapWire::NATPMP::MapResponse{3, 86400, 61423, 40001, 7200}));
    // Longer answers are read, the excess ignored; a short one, a UDP answer or another version is not.
    EXPECT_EQ(PortMapWire::NATPMP::parseMapResponse(map + hex("FF FF FF FF")),
              PortMapWire::NATPMP::parseMapResponse(map));
    EXPECT_FALSE(PortMapWire::NATPMP::parseMapResponse(std::span(map).first(15)));
    EXPECT_FALSE(PortMapWire::NATPMP::parseMapResponse(hex("00 81") + Bytes(map.begin() + 2, map.end())));
    EXPECT_FALSE(PortMapWire::NATPMP::parseMapResponse(hex("01 82") + Bytes(map.begin() + 2, map.end())));

    const Bytes address = hex("00 80 00 00 00 00 00 2A CB 00 71 07");
    EXPECT_EQ(PortMapWire::NATPMP::parseExternalAddressResponse(address),
              (PortMapWire::NATPMP::ExternalAddressResponse{0, 42, "203.0.113.7"}));
    EXPECT_FALSE(PortMapWire::NATPMP::parseExternalAddressResponse(std::span(address).first(11)));
    EXPECT_FALSE(PortMapWire::NATPMP::parseExternalAddressResponse(map));
}

TEST(PortMapWire, PCPMapRequestAndAnswerByteForByte) {
    const Bytes client = *PortMapWire::mappedIPv6("192.168.1.20");
    const Bytes nonce = hex("01 02 03 04 05 06 07 08 09 0A 0B 0C");
    const Bytes anyAddress(16, 0);
    EXPECT_EQ(PortMapWire::PCP::mapRequest(client, nonce, 61423, 61423, anyAddress, 7200),
              hex("02 01 00 00 00 00 1C 20 00000000000000000000 FFFF C0A80114") + nonce +
                  hex("06 00 00 00 EF EF EF EF") + anyAddress);
    EXPECT_FALSE(PortMapWire::PCP::mapRequest(hex("C0A80114"), nonce, 1, 1, anyAddress, 1));
    EXPECT_FALSE(PortMapWire::PCP::mapRequest(client, std::span(nonce).first(11), 1, 1, anyAddress, 1));
    EXPECT_FALSE(PortMapWire::PCP::mapRequest(client, nonce, 1, 1, Bytes(17, 0), 1));

    // Result 11 is still an answer: judging it is the mapper's business.
    const Bytes public7 = hex("00000000000000000000 FFFF CB007107");
    const Bytes answer =
        hex("02 81 00 0B 00 00 1C 20 00 00 00 2A") + Bytes(12, 0xEE) + nonce + hex("06 EE EE EE EF EF 9C 41") + public7;
    ASSERT_EQ(answer.size(), 60u);
    EXPECT_EQ(PortMapWire::PCP::parseMapResponse(answer),
              (PortMapWire::PCP::MapResponse{11, 7200, 42, nonce, 6, 61423, 40001, public7}));
    EXPECT_EQ(PortMapWire::ipv4(PortMapWire::PCP::parseMapResponse(answer + hex("00"))->externalAddress),
              "203.0.113.7");
    EXPECT_FALSE(PortMapWire::PCP::parseMapResponse(std::span(answer).first(59)));
    for (const Bytes& head : {hex("00 81"), hex("02 01")}) {
        EXPECT_FALSE(PortMapWire::PCP::parseMapResponse(head + Bytes(answer.begin() + 2, answer.end())));
    }

    EXPECT_TRUE(PortMapWire::PCP::saysUseNATPMP(hex("00 81")));
    EXPECT_FALSE(PortMapWire::PCP::saysUseNATPMP(hex("00")));
    EXPECT_FALSE(PortMapWire::PCP::saysUseNATPMP(answer));
}

TEST(PortMapWire, ResultTextsWithAndWithoutACase) {
    EXPECT_EQ(PortMapWire::PCP::messageForCode(0), "mapped");
    EXPECT_EQ(PortMapWire::PCP::messageForCode(11),
              "the router has no public address to forward \u2014 this looks like carrier-grade NAT");
    EXPECT_EQ(PortMapWire::PCP::result(13), PortMapWire::PCP::Result::excessiveRemotePeers);
    EXPECT_FALSE(PortMapWire::PCP::result(14));
    EXPECT_EQ(PortMapWire::PCP::messageForCode(14), "the router refused with code 14");
    EXPECT_EQ(PortMapWire::PCP::messageForCode(255), "the router refused with code 255");

    EXPECT_EQ(PortMapWire::NATPMP::messageForCode(5), "the router does not forward TCP");
    EXPECT_FALSE(PortMapWire::NATPMP::result(6));
    EXPECT_EQ(PortMapWire::NATPMP::messageForCode(6), "the router refused with code 6");
    EXPECT_EQ(PortMapWire::NATPMP::messageForCode(65535), "the router refused with code 65535");
}

TEST(PortMapWire, MappedIPv6AndBack) {
    const Bytes mapped = hex("00000000000000000000 FFFF C0A80114");
    EXPECT_EQ(PortMapWire::mappedIPv6("192.168.1.20"), mapped);
    EXPECT_EQ(PortMapWire::mappedIPv6("192.168.x.1.20"), mapped);
    EXPECT_EQ(PortMapWire::mappedIPv6("192.168.1.300.20"), mapped);
    EXPECT_FALSE(PortMapWire::mappedIPv6("192.168.1"));
    EXPECT_FALSE(PortMapWire::mappedIPv6("192.168.1.300"));
    EXPECT_FALSE(PortMapWire::mappedIPv6(""));

    EXPECT_EQ(PortMapWire::ipv4(mapped), "192.168.1.20");
    EXPECT_FALSE(PortMapWire::ipv4(std::span(mapped).first(15)));
    EXPECT_FALSE(PortMapWire::ipv4(mapped + hex("00")));
    for (const std::size_t at : {std::size_t{0}, std::size_t{9}, std::size_t{10}, std::size_t{11}}) {
        Bytes other = mapped;
        other[at] ^= 0x01;
        EXPECT_FALSE(PortMapWire::ipv4(other)) << at;
    }

    const Bytes nonce = PortMapWire::newNonce();
    EXPECT_EQ(nonce.size(), 12u);
    EXPECT_NE(nonce, PortMapWire::newNonce());
}

TEST(PortMapWire, UsablePublicIPv4) {
    for (const char* text : {"203.0.113.7", "198.51.100.4", "8.8.8.8", "1.0.0.1", "223.255.255.255"}) {
        EXPECT_TRUE(PortMapWire::isUsablePublicIPv4(text)) << text;
    }
    // Unset, private, shared (carrier-grade NAT), multicast and broadcast addresses, and text that
    // is no strict dotted address.
    for (const char* text : {"0.0.0.0", "0.1.2.3", "224.0.0.1", "255.255.255.255", "10.1.2.3", "100.64.0.1",
                             "192.168.1.1", "127.0.0.1", "169.254.3.4", "203.0.113", "203.0.113.7 ", "203.0.113.07",
                             "203.0.113.x.7", "::ffff:203.0.113.7", "junk", ""}) {
        EXPECT_FALSE(PortMapWire::isUsablePublicIPv4(text)) << text;
    }
    EXPECT_FALSE(PortMapWire::isUsablePublicIPv4(std::string_view("203.0.113.7\0junk", 16)));
}

}  // namespace
}  // namespace quib
