#include <gtest/gtest.h>

#include "Runtime/Base64.hpp"

using namespace quib;

TEST(Base64, RoundTripsEveryLength) {
    Bytes data;
    for (int n = 0; n < 40; ++n) {
        EXPECT_EQ(base64Decode(base64Encode(data)), data) << n;
        data.push_back(static_cast<std::uint8_t>(n * 37 + 11));
    }
    EXPECT_EQ(base64Encode(bytesOf("foobar")), "Zm9vYmFy");
    EXPECT_EQ(base64Encode(bytesOf("fo")), "Zm8=");
}

TEST(Base64, RejectsAnythingButStrictStandardText) {
    for (const char* bad : {"Zm8", "Zm8==", "Z===", "Zm9v\nYmFy", "Zm-_", "Zm9=YmFy", "Zm9 ", "Zm9=", "Zn=="}) {
        EXPECT_EQ(base64Decode(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(base64Decode(""), Bytes{});
}
