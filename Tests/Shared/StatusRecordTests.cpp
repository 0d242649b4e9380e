#include <gtest/gtest.h>

#include "Shared/DeliveryReceipt.hpp"
#include "Shared/HostStatus.hpp"
#include "Shared/MenuProfilePayload.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/VocabularyPayload.hpp"

using namespace quib;

TEST(HostStatus, EmptyObjectTakesDefaultsAndReencodesEightKeys) {
    auto status = QuibCoder::decode<HostStatus>("{}");
    ASSERT_TRUE(status.ok());
    EXPECT_EQ(*status, HostStatus{});
    EXPECT_EQ(status->hostName, "Computer");
    EXPECT_EQ(status->protocolVersion, 4);
    EXPECT_TRUE(status->deviceApproved);
    EXPECT_FALSE(status->accessibilityGranted || status->injectionPaused || status->tmuxAvailable ||
                 status->screenRecordingGranted);
    EXPECT_FALSE(status->activeTargetID);
    EXPECT_FALSE(status->pushRelayConfigured);
    EXPECT_EQ(
        *QuibCoder::encode(*status),
        R"({"hostName":"Computer","protocolVersion":4,"accessibilityGranted":false,"injectionPaused":false,)"
        R"("deviceApproved":true,"tmuxAvailable":false,"screenRecordingGranted":false,"unresolvedTargetIDs":[]})");
}

TEST(HostStatus, WrongTypeFailsAndNullTakesDefault) {
    EXPECT_FALSE(QuibCoder::decode<HostStatus>(R"({"protocolVersion":"23"})").ok());
    EXPECT_FALSE(QuibCoder::decode<HostStatus>(R"({"unresolvedTargetIDs":[1]})").ok());
    EXPECT_EQ(QuibCoder::decode<HostStatus>(R"({"hostName":null})")->hostName, "Computer");
}

TEST(HostStatus, PushRelayConfiguredKeepsThreeStates) {
    EXPECT_EQ(QuibCoder::decode<HostStatus>(R"({"pushRelayConfigured":false})")->pushRelayConfigured, false);
    EXPECT_EQ(QuibCoder::decode<HostStatus>(R"({"pushRelayConfigured":true})")->pushRelayConfigured, true);
    HostStatus status;
    status.pushRelayConfigured = false;
    status.activeTargetID = "T";
    const auto text = *QuibCoder::encode(status);
    EXPECT_NE(text.find(R"("pushRelayConfigured":false)"), std::string::npos);
    EXPECT_EQ(QuibCoder::decode<HostStatus>(text).valueOr({}), status);
}

TEST(DeliveryReceipt, StrictExceptTargetID) {
    auto receipt = QuibCoder::decode<DeliveryReceipt>(
        R"({"ok":false,"targetName":"Mac","characters":0,"submitted":false,"message":"No target is selected on the computer"})");
    ASSERT_TRUE(receipt.ok());
    EXPECT_FALSE(receipt->targetID);
    EXPECT_FALSE(QuibCoder::decode<DeliveryReceipt>(
                     R"({"ok":true,"targetID":"T","targetName":"A","characters":3,"submitted":true})")
                     .ok());
    const DeliveryReceipt sent{true, std::string("T"), "Editor", 5, true, "Sent."};
    EXPECT_EQ(QuibCoder::decode<DeliveryReceipt>(*QuibCoder::encode(sent)).valueOr(*receipt), sent);
}

TEST(MenuProfilePayload, UnknownOutcomeTextReadsAsUnreadable) {
    EXPECT_EQ(QuibCoder::decode<MenuProfilePayload>(R"({"outcome":"Read"})")->outcome,
              MenuProfilePayload::Outcome::unreadable);
    EXPECT_EQ(QuibCoder::decode<MenuProfilePayload>(R"({"outcome":"sideways"})")->outcome,
              MenuProfilePayload::Outcome::unreadable);
    EXPECT_EQ(QuibCoder::decode<MenuProfilePayload>(R"({"outcome":"nothingUseful"})")->outcome,
              MenuProfilePayload::Outcome::nothingUseful);
    EXPECT_FALSE(QuibCoder::decode<MenuProfilePayload>(R"({"outcome":0})").ok());
}

TEST(MenuProfilePayload, EmptyObjectAndProfileRoundTrip) {
    auto empty = QuibCoder::decode<MenuProfilePayload>("{}");
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(*empty, MenuProfilePayload{});
    EXPECT_EQ(empty->outcome, MenuProfilePayload::Outcome::unreadable);
    EXPECT_EQ(*QuibCoder::encode(*empty), R"({"bundleID":"","outcome":"unreadable","note":""})");

    ShortcutProfile profile;
    profile.id = "menu:com.example.editor";
    profile.actions.push_back({"save", "Save", "square.and.arrow.down", ShortcutAction::Kind::key,
                               KeyChord("s", false, false, false, true), std::nullopt, false});
    const MenuProfilePayload read{"com.example.editor", MenuProfilePayload::Outcome::read, profile, "Read 1 command."};
    EXPECT_EQ(QuibCoder::decode<MenuProfilePayload>(*QuibCoder::encode(read)).valueOr({}), read);
    EXPECT_FALSE(QuibCoder::decode<MenuProfilePayload>(R"({"profile":{"actions":[{"kind":"x"}]}})").ok());
}

TEST(VocabularyPayload, ChunksHoldTwoHundredTermsInOrderAndNoTermsMakeOneEmptyChunk) {
    const auto terms = [](std::size_t count) {
        std::vector<std::string> list;
        for (std::size_t i = 0; i < count; ++i) list.push_back(std::to_string(i));
        return list;
    };
    const auto none = VocabularyPayload::chunked("T", {});
    EXPECT_EQ(none, (std::vector<VocabularyPayload>{{"T", {}, 0, true}}));
    const auto full = VocabularyPayload::chunked("T", terms(200));
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].terms, terms(200));
    EXPECT_TRUE(full[0].isFinal);
    const auto over = VocabularyPayload::chunked("T", terms(401));
    ASSERT_EQ(over.size(), 3u);
    EXPECT_EQ(over[1].terms.front(), "200");
    EXPECT_EQ(over[2].terms, std::vector<std::string>{"400"});
    for (std::size_t i = 0; i < over.size(); ++i) {
        EXPECT_EQ(over[i].sequence, static_cast<std::int64_t>(i));
        EXPECT_EQ(over[i].isFinal, i == 2);
    }
}

TEST(VocabularyPayload, StrictWithEmptyTermsAllowed) {
    auto payload = QuibCoder::decode<VocabularyPayload>(R"({"targetID":"T","terms":[],"sequence":0,"isFinal":true})");
    ASSERT_TRUE(payload.ok());
    EXPECT_TRUE(payload->terms.empty());
    EXPECT_FALSE(QuibCoder::decode<VocabularyPayload>(R"({"targetID":"T","terms":[],"sequence":0})").ok());
    const VocabularyPayload chunk{"T", {"main", "LineFramer"}, 2, false};
    EXPECT_EQ(*QuibCoder::encode(chunk),
              R"({"targetID":"T","terms":["main","LineFramer"],"sequence":2,"isFinal":false})");
}
