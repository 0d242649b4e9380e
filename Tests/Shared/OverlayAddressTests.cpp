#include <gtest/gtest.h>

#include "Shared/OverlayAddress.hpp"

using quib::OverlayAddress;

TEST(OverlayAddress, Ipv4RangeIsExactlyTheSharedAddressSpace) {
    EXPECT_TRUE(OverlayAddress::contains("100.64.0.1"));
    EXPECT_TRUE(OverlayAddress::contains("100.127.255.255"));
    EXPECT_FALSE(OverlayAddress::contains("100.63.255.255"));
    EXPECT_FALSE(OverlayAddress::contains("100.128.0.1"));
    EXPECT_FALSE(OverlayAddress::contains("10.0.0.1"));
}

TEST(OverlayAddress, Ipv4IsParsedStrictly) {
    // Shorthand forms that lenient parsers accept (100.64.1 = 100.64.0.1, hexadecimal, octal).
    EXPECT_FALSE(OverlayAddress::contains("100.64.1"));
    EXPECT_FALSE(OverlayAddress::contains("0x64.64.0.1"));
    EXPECT_FALSE(OverlayAddress::contains("100.0100.0.1"));
    EXPECT_FALSE(OverlayAddress::contains("100.64.0.1 "));
}

TEST(OverlayAddress, Ipv6PrefixAndZoneSuffix) {
    EXPECT_TRUE(OverlayAddress::contains("fd7a:115c:a1e0::1"));
    EXPECT_TRUE(OverlayAddress::contains("FD7A:115C:A1E0:ab12::5"));
    EXPECT_TRUE(OverlayAddress::contains("fd7a:115c:a1e0::1%utun3"));
    EXPECT_FALSE(OverlayAddress::contains("fd7a:115c:a1e1::1"));
    EXPECT_FALSE(OverlayAddress::contains("fe80::1%en0"));
    EXPECT_FALSE(OverlayAddress::contains("::ffff:100.64.0.1"));
}

TEST(OverlayAddress, NamesAndEmptyTextAreNotAddresses) {
    EXPECT_FALSE(OverlayAddress::contains("host.example"));
    EXPECT_FALSE(OverlayAddress::contains(""));
    EXPECT_FALSE(OverlayAddress::contains("%"));
}
