#include "QuibHost/Reach/Wire/StunWire.hpp"

#include <gtest/gtest.h>

#include "QuibHost/Reach/Wire/PortMapWire.hpp"
#include "Tests/Support/WireBytes.hpp"

namespace quib {
namespace {

using namespace quib::testing;

const Bytes transaction = hex("01 02 03 04 05 06 07 08 09 0A 0B 0C");
// 203.0.113.7:40001, with and without the XOR.
const Bytes xorMapped = hex("00 20 00 08 00 01 BD 53 EA 12 D5 45");
const Bytes mapped = hex("00 01 00 08 00 01 9C 41 CB 00 71 07");
const Bytes otherMapped = hex("00 01 00 08 00 01 0D 96 C6 33 64 04");  // 198.51.100.4:3478
const StunWire::Reflexive seen{"203.0.113.7", 40001, false};

Bytes answer(const Bytes& attributes, const char* type = "01 01") {
    Bytes length;
    appendBigEndian16(length, static_cast<std::uint16_t>(attributes.size()));
    return hex(type) + length + hex("21 12 A4 42") + transaction + attributes;
}

TEST(StunWire, RequestByteForByte) {
    EXPECT_EQ(StunWire::request(transaction), hex("00 01 00 00 21 12 A4 42") + transaction);
    EXPECT_FALSE(StunWire::request(std::span(transaction).first(11)));
    EXPECT_FALSE(StunWire::request(transaction + hex("0D")));
}

TEST(StunWire, XorMappedAddressWinsAndTheFirstMappedAddressIsKept) {
    EXPECT_EQ(answer(xorMapped), hex("01 01 00 0C 21 12 A4 42") + transaction + xorMapped);
    EXPECT_EQ(StunWire::reflexiveAddress(answer(xorMapped), transaction), seen);
    EXPECT_EQ(StunWire::reflexiveAddress(answer(mapped), transaction), seen);
    EXPECT_EQ(StunWire::reflexiveAddress(answer(otherMapped + xorMapped), transaction), seen);
    EXPECT_EQ(StunWire::reflexiveAddress(answer(mapped + otherMapped), transaction), seen);
    // An attribute of odd length is padded to four bytes before the next one.
    EXPECT_EQ(StunWire::reflexiveAddress(answer(hex("80 22 00 05 71 75 69 62 21 00 00 00") + xorMapped), transaction),
              seen);

    Bytes v6 = *PortMapWire::ipv6Bytes("2001:db8::5");
    const Bytes mask = hex("21 12 A4 42") + transaction;
    for (std::size_t i = 0; i < 16; ++i) v6[i] ^= mask[i];
    EXPECT_EQ(StunWire::reflexiveAddress(answer(hex("00 20 00 14 00 02 BD 53") + v6), transaction),
              (StunWire::Reflexive{"2001:db8::5", 40001, true}));
    // Too short for IPv6, or a family that does not exist.
    EXPECT_FALSE(StunWire::reflexiveAddress(answer(hex("00 20 00 10 00 02 BD 53") + Bytes(v6.begin(), v6.end() - 4)),
                                            transaction));
    EXPECT_FALSE(StunWire::reflexiveAddress(answer(hex("00 20 00 08 00 03 BD 53 EA 12 D5 45")), transaction));
}

TEST(StunWire, ForeignAndTruncatedAnswersGiveNoAddress) {
    Bytes foreign = answer(xorMapped);
    foreign[19] ^= 0x01;
    EXPECT_FALSE(StunWire::reflexiveAddress(foreign, transaction));
    EXPECT_FALSE(StunWire::reflexiveAddress(answer(xorMapped, "01 11"), transaction));
    const Bytes bare = answer({});
    EXPECT_FALSE(StunWire::reflexiveAddress(std::span(bare).first(19), transaction));
    EXPECT_FALSE(StunWire::reflexiveAddress(answer(xorMapped), std::span(transaction).first(11)));

    // A value running past the datagram ends the scan; what came before it still counts.
    const Bytes overlong = hex("80 22 01 00 00 00 00 00");
    EXPECT_EQ(StunWire::reflexiveAddress(answer(mapped + overlong), transaction), seen);
    EXPECT_FALSE(StunWire::reflexiveAddress(answer(overlong + xorMapped), transaction));
    // Bytes past the message's own length are not attributes.
    Bytes trailing = answer(mapped) + xorMapped;
    trailing[26] = 0x0D;  // the MAPPED-ADDRESS port: 0x0D41
    EXPECT_EQ(StunWire::reflexiveAddress(trailing, transaction)->port, 0x0D41);
}

TEST(StunWire, ErrorCode) {
    const Bytes error = hex("00 09 00 04 00 00 04 14");
    EXPECT_EQ(answer(error, "01 11"), hex("01 11 00 08 21 12 A4 42") + transaction + error);
    EXPECT_EQ(StunWire::errorCode(answer(error, "01 11")), 420);
    EXPECT_EQ(StunWire::errorCode(answer(hex("80 22 00 05 71 75 69 62 21 00 00 00") + error, "01 11")), 420);
    EXPECT_FALSE(StunWire::errorCode(answer(error)));
    EXPECT_FALSE(StunWire::errorCode(answer(mapped, "01 11")));
    EXPECT_FALSE(StunWire::errorCode(answer(hex("00 09 00 04 00 00"), "01 11")));
}

TEST(StunWire, CarrierGradeNATIsTheSharedAddressSpace) {
    for (const char* host : {"100.64.0.1", "100.127.255.255"})
        EXPECT_TRUE((StunWire::Reflexive{host, 1, false}.isCarrierGradeNAT()));
    for (const char* host : {"100.63.0.1", "100.128.0.1", "10.64.0.1", "100.64.0"}) {
        EXPECT_FALSE((StunWire::Reflexive{host, 1, false}.isCarrierGradeNAT())) << host;
    }
    EXPECT_FALSE((StunWire::Reflexive{"100.64.0.1", 1, true}.isCarrierGradeNAT()));
}

TEST(StunWire, ServerTexts) {
    EXPECT_EQ(StunWire::server("192.0.2.1:3478"), (StunWire::Server{"192.0.2.1", 3478}));
    EXPECT_EQ(StunWire::server("stun.example.net:19302"), (StunWire::Server{"stun.example.net", 19302}));
    for (const char* text : {"192.0.2.1", ":3478", "192.0.2.1:abc", "192.0.2.1:70000", "192.0.2.1:+3478",
                             "[2001:db8::1]:3478", "a:1:2", ""}) {
        EXPECT_FALSE(StunWire::server(text)) << text;
    }
}

}  // namespace
}  // namespace quib
