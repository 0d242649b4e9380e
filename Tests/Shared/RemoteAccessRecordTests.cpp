#include <gtest/gtest.h>

#include <unordered_set>

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
    EXPECT_FALSE(
        QuibCoder::decode<RemoteAccessPayload>(R"({"candidates":[{"host":"h","port":1,"reach":"local"}]})").ok());
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

TEST(QuibCandidate, IdDisplayRemotenessAndHash) {
    const QuibCandidate local{"10.0.0.2", 61413, QuibCandidate::Reach::local, "this network"};
    const QuibCandidate v6{"fe80::1", 61423, QuibCandidate::Reach::internet6, "IPv6"};
    const QuibCandidate forwarded{"203.0.113.7", 40001, QuibCandidate::Reach::forwarded4, "NAT-PMP"};
    EXPECT_EQ(local.id(), "local|10.0.0.2|61413");
    EXPECT_EQ(v6.id(), "internet6|fe80::1|61423");
    EXPECT_EQ(forwarded.id(), "forwarded4|203.0.113.7|40001");
    EXPECT_EQ(local.display(), "10.0.0.2:61413");
    EXPECT_EQ(v6.display(), "[fe80::1]:61423");
    EXPECT_FALSE(local.isRemote());
    EXPECT_TRUE(v6.isRemote());
    EXPECT_TRUE(forwarded.isRemote());

    EXPECT_EQ(
        allCases<QuibCandidate::Reach>(),
        (std::array{QuibCandidate::Reach::local, QuibCandidate::Reach::internet6, QuibCandidate::Reach::forwarded4}));
    EXPECT_LT(QuibCandidate::Reach::local, QuibCandidate::Reach::internet6);
    EXPECT_LT(QuibCandidate::Reach::internet6, QuibCandidate::Reach::forwarded4);

    QuibCandidate relabelled = forwarded;
    relabelled.via = "UPnP";
    const std::unordered_set<QuibCandidate> set{forwarded, QuibCandidate(forwarded), relabelled};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_EQ(std::hash<QuibCandidate>{}(forwarded), std::hash<QuibCandidate>{}(QuibCandidate(forwarded)));
}

TEST(RemoteAccessPayload, WireFormAndTheCopyWithoutKey) {
    const std::string candidates =
        R"({"isEnabled":true,"candidates":[{"host":"192.168.1.20","port":61413,"reach":"local","via":"this network"}])";
    const std::string line =
        candidates +
        R"(,"keyIdentity":"quib.away.1.DEV","keyMaterial":"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="})";
    const auto payload = QuibCoder::decode<RemoteAccessPayload>(line);
    ASSERT_TRUE(payload.ok());
    EXPECT_EQ(payload->issuedKey(), (RemoteAccessPayload::IssuedKey{"quib.away.1.DEV", Bytes(32, 0)}));
    EXPECT_EQ(*QuibCoder::encode(*payload), line);
    EXPECT_EQ(*QuibCoder::encode(payload->withoutKey()), candidates + "}");

    RemoteAccessPayload unavailable = *payload;
    unavailable.unavailable = "Away access is off.";
    const RemoteAccessPayload keyless = unavailable.withoutKey();
    EXPECT_EQ(keyless.isEnabled, true);
    EXPECT_EQ(keyless.candidates, payload->candidates);
    EXPECT_EQ(keyless.unavailable, "Away access is off.");
    EXPECT_FALSE(keyless.keyIdentity || keyless.keyMaterial);
}
