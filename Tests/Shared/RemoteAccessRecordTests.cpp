#include <gtest/gtest.h>

#include "Shared/QuibCandidate.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/RemoteAccessPayload.hpp"

using namespace quib;

TEST(QuibCandidate, EveryKeyIsRequiredAndThePortIsSixteenBits) {
    auto c = QuibCoder::decode<QuibCandidate>(R"({"host":"10.0.0.2","port":65535,"reach":"forwarded4","via":"PCP"})");
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(*c, (QuibCandidate{"10.0.0.2", 65535, QuibCandidate::Reach::forwarded4, "PCP"}));
    EXPECT_FALSE(QuibCoder::decode<QuibCandidate>(R"({"host":"h","port":65536,"reach":"local","via":"v"})").ok());
    EXPECT_FALSE(QuibCoder::decode<QuibCandidate>(R"({"host":"h","port":-1,"reach":"local","via":"v"})").ok());
    EXPECT_FALSE(QuibCoder::decode<QuibCandidate>(R"({"host":"h","port":1,"reach":"internet4","via":"v"})").ok());
    EXPECT_FALSE(QuibCoder::decode<QuibCandidate>(R"({"host":"h","port":1,"reach":"local"})").ok());
}

TEST(RemoteAccessPayload, MissingKeysReadAsOffAndEmpty) {
    auto p = QuibCoder::decode<RemoteAccessPayload>("{}");
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(*p, RemoteAccessPayload{});
    EXPECT_EQ(*QuibCoder::encode(*p), R"({"isEnabled":false,"candidates":[]})");
    // One bad candidate fails the whole payload.
    EXPECT_FALSE(QuibCoder::decode<RemoteAccessPayload>(R"({"candidates":[{"host":"h","port":1,"reach":"local"}]})").ok());
}

TEST(RemoteAccessPayload, CarriesTheKeyAsBase64AndIssuesOnlyAWholeKey) {
    RemoteAccessPayload p;
    p.isEnabled = true;
    p.candidates = {{"fe80::1", 61423, QuibCandidate::Reach::internet6, "IPv6"}};
    p.unavailable = "Not yet";
    p.keyIdentity = "quib.away.1.D";
    p.keyMaterial = Bytes(32, 0xAB);
    const auto text = QuibCoder::encode(p);
    ASSERT_TRUE(text.ok());
    EXPECT_NE(text->find(R"("keyMaterial":"q6ur)"), std::string::npos);
    EXPECT_EQ(QuibCoder::decode<RemoteAccessPayload>(*text).value(), p);

    ASSERT_TRUE(p.issuedKey());
    EXPECT_EQ(p.issuedKey()->identity, "quib.away.1.D");
    EXPECT_EQ(p.issuedKey()->material, Bytes(32, 0xAB));
    p.keyMaterial = Bytes(31, 1);
    EXPECT_FALSE(p.issuedKey());
    p.keyMaterial = Bytes(33, 1);
    EXPECT_FALSE(p.issuedKey());
    p.keyMaterial = Bytes(32, 1);
    p.keyIdentity = "";
    EXPECT_FALSE(p.issuedKey());
    EXPECT_FALSE(QuibCoder::decode<RemoteAccessPayload>(R"({"keyMaterial":"not base64!"})").ok());
}
