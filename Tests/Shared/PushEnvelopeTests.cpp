#include <gtest/gtest.h>

#include <numeric>

#include "Runtime/Base64.hpp"
#include "Shared/PushEnvelope.hpp"
#include "Shared/QuibCoder.hpp"

using namespace quib;

namespace {

using Failure = PushEnvelope::Failure;

Bytes counting(std::uint8_t first, std::size_t count) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

std::string hex(const Bytes& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (auto b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

AgentAlert doneAlert() {
    AgentAlert alert;
    alert.id = "agent.event.T1";
    alert.threadID = "target.T1";
    alert.title = "Build";
    alert.body = "Finished";
    alert.kind = AgentAlert::Kind::done;
    alert.targetID = "T1";
    alert.isSilent = false;
    alert.isTimeSensitive = false;
    alert.relevance = 0.3;
    alert.badge = 1;
    return alert;
}

PushEnvelope::Nonce nonceFrom(const Bytes& bytes) {
    PushEnvelope::Nonce nonce{};
    std::copy(bytes.begin(), bytes.end(), nonce.begin());
    return nonce;
}

}  // namespace

TEST(PushEnvelope, SealsTheAlertsJsonToTheKnownBox) {
    const Bytes key = counting(0x00, 32);
    const auto sealed = PushEnvelope::seal(doneAlert(), key, nonceFrom(counting(0xa0, 12)));
    ASSERT_TRUE(sealed) << sealed.error().message;
    EXPECT_EQ(*QuibCoder::encode(doneAlert()),
              R"({"id":"agent.event.T1","threadID":"target.T1","title":"Build","body":"Finished","kind":"done",)"
              R"("targetID":"T1","isSilent":false,"isTimeSensitive":false,"relevance":0.3,"badge":1})");
    EXPECT_EQ(sealed->version, 1);
    EXPECT_EQ(
        sealed->box,
        "oKGio6SlpqeoqaqrnToVSWfxIN4FAOmnKR+2ux7Yd0SjlW5O6GZU4x7PPEXwTGWLzlA0WCuyUPkrVqGNLm8qLUDqODw0N2c6hlyn0tvY/"
        "E0Kh6KJmouMcOqq7pbvYMLKoeOjWIoaUP+Ttm/g7vZMznfny7mk+VJhp6TPQVcDCMK7W+8eFam/yMcw3m+sYuQWvifTclkql/"
        "97PPT0sr/MB8211q6PqNGQ2aZaSKM6JYGYWWw04GtPRQrwjNAK3PYAG3SHxsLimQj14mezCQ==");
    const auto combined = base64Decode(sealed->box);
    ASSERT_TRUE(combined);
    EXPECT_EQ(combined->size(), 205u);
    EXPECT_EQ(hex(Bytes(combined->end() - 16, combined->end())), "dcf6001b7487c6c2e29908f5e267b309");
    EXPECT_EQ(PushEnvelope::open(*sealed, {key}).value(), doneAlert());
}

TEST(PushEnvelope, CipherMatchesTheKnownTagAndOpensAgain) {
    const std::string plaintext =
        R"({"id":"agent.approval.R1","threadID":"target.unknown","title":"an agent","subtitle":"Run ls",)"
        R"("body":"ls -la · ok","kind":"approval","approvalID":"R1","isSilent":true,"isTimeSensitive":true,)"
        R"("relevance":1.0,"badge":2})";
    ASSERT_EQ(plaintext.size(), 216u);
    const Bytes key(32, 0x42);
    const auto combined = PushEnvelope::sealCombined(bytesOf(plaintext), key, PushEnvelope::Nonce{});
    ASSERT_TRUE(combined);
    ASSERT_EQ(combined->size(), 12 + 216 + 16u);
    EXPECT_EQ(Bytes(combined->begin(), combined->begin() + 12), Bytes(12, 0));
    EXPECT_EQ(hex(Bytes(combined->end() - 16, combined->end())), "4592f5a3b66120a35f6cdc6b5f3f9f8a");
    EXPECT_EQ(PushEnvelope::openCombined(*combined, key), bytesOf(plaintext));

    auto altered = *combined;
    altered[20] ^= 0x01;
    EXPECT_FALSE(PushEnvelope::openCombined(altered, key));
    EXPECT_FALSE(PushEnvelope::openCombined(Bytes(combined->begin(), combined->begin() + 27), key));
}

TEST(PushEnvelope, OpaqueThreadIsTheDigestsFirstEightBytes) {
    EXPECT_EQ(PushEnvelope::opaqueThread("target.unknown"), "f0eaf2eed81e9de2");
    EXPECT_EQ(PushEnvelope::opaqueThread("target.T1"), "f5e66d54cbf466d4");
    EXPECT_EQ(PushEnvelope::opaqueThread("target.%3"), "96799585a74a4e57");
}

TEST(PushEnvelope, SealingTakesOnlyA32ByteKeyAndNeverRepeatsABox) {
    EXPECT_EQ(PushEnvelope::seal(doneAlert(), Bytes(31, 1)).error(), PushEnvelope::error(Failure::badKey));
    EXPECT_EQ(PushEnvelope::seal(doneAlert(), Bytes(33, 1)).error(), PushEnvelope::error(Failure::badKey));
    const Bytes key(32, 7);
    const auto first = PushEnvelope::seal(doneAlert(), key);
    const auto second = PushEnvelope::seal(doneAlert(), key);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->box, second->box);
    EXPECT_EQ(base64Decode(first->box)->size(), QuibCoder::encode(doneAlert())->size() + 28);
}

TEST(PushEnvelope, OpensWithTheFirstKeyThatFits) {
    const Bytes right(32, 0x11);
    const Bytes wrong(32, 0x22);
    const Bytes shortKey(16, 0x11);
    const auto sealed = PushEnvelope::seal(doneAlert(), right);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(PushEnvelope::open(*sealed, {shortKey, wrong, right}).value(), doneAlert());
    EXPECT_EQ(PushEnvelope::open(*sealed, {shortKey, wrong}).error(), PushEnvelope::error(Failure::noKeyFits));
    EXPECT_EQ(PushEnvelope::open(*sealed, {}).error(), PushEnvelope::error(Failure::noKeyFits));
}

TEST(PushEnvelope, AnEnvelopeItCannotReadIsUnreadableWhateverTheKey) {
    const Bytes key(32, 0x11);
    const auto sealed = PushEnvelope::seal(doneAlert(), key).value();
    auto newer = sealed;
    newer.version = 2;
    auto foreign = sealed;
    foreign.box[5] = '*';
    auto wrapped = sealed;
    wrapped.box.insert(40, "\n");
    for (const auto& envelope : {newer, foreign, wrapped})
        EXPECT_EQ(PushEnvelope::open(envelope, {key}).error(), PushEnvelope::error(Failure::unreadable));
    // A box too short to hold nonce and tag reads, but no key opens it.
    EXPECT_EQ(PushEnvelope::open({base64Encode(Bytes(27, 0)), 1}, {key}).error(),
              PushEnvelope::error(Failure::noKeyFits));
}

TEST(PushEnvelope, SealedDecodesOnlyWithBothKeys) {
    EXPECT_EQ(QuibCoder::decode<PushEnvelope::Sealed>(R"({"box":"AAAA","version":1})").value(),
              (PushEnvelope::Sealed{"AAAA", 1}));
    EXPECT_FALSE(QuibCoder::decode<PushEnvelope::Sealed>(R"({"box":"AAAA"})"));
    EXPECT_FALSE(QuibCoder::decode<PushEnvelope::Sealed>(R"({"version":1})"));
    EXPECT_FALSE(QuibCoder::decode<PushEnvelope::Sealed>(R"({"box":1,"version":1})"));
}

TEST(PushEnvelope, PayloadShowsOnlyPlaceholdersAndHints) {
    const PushEnvelope::Sealed sealed{"Qk9Y", 1};
    const Json quiet = PushEnvelope::payload(sealed, "quib.agent.event", false, true, "target.T1", 0.3);
    const Json& aps = quiet["aps"];
    EXPECT_EQ(aps.size(), 6u);
    EXPECT_EQ(aps["alert"], (Json{{"title", "Quib"}, {"body", "Something needs you"}}));
    EXPECT_EQ(aps["mutable-content"], 1);
    EXPECT_EQ(aps["category"], "quib.agent.event");
    EXPECT_EQ(aps["thread-id"], "f5e66d54cbf466d4");
    EXPECT_EQ(aps["relevance-score"], 0.3);
    EXPECT_EQ(aps["interruption-level"], "passive");
    EXPECT_FALSE(aps.contains("sound"));
    EXPECT_EQ(quiet["m"], (Json{{"box", "Qk9Y"}, {"version", 1}}));
    EXPECT_EQ(quiet.size(), 2u);

    const Json loud = PushEnvelope::payload(sealed, "quib.agent.approval", true, false, "target.unknown", 1.0);
    EXPECT_EQ(loud["aps"].size(), 7u);
    EXPECT_EQ(loud["aps"]["sound"], "default");
    EXPECT_EQ(loud["aps"]["interruption-level"], "time-sensitive");
}
