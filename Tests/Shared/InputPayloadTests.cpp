#include <gtest/gtest.h>

#include "Shared/AgentEvent.hpp"
#include "Shared/ClickPhase.hpp"
#include "Shared/HelloPayload.hpp"
#include "Shared/KeyPayload.hpp"
#include "Shared/MouseButton.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/TextPayload.hpp"

using namespace quib;

namespace {

KeyChord decodeChord(std::string_view text) {
    auto payload = QuibCoder::decode<KeyPayload>(text);
    EXPECT_TRUE(payload.ok()) << (payload.ok() ? "" : payload.error().message);
    return payload.ok() ? payload->chord : KeyChord("<failed>");
}

const KeyChord kEscape("escape");
const KeyChord kEnter("enter");
const KeyChord kCommandC("c", false, false, false, true);
const KeyChord kCommandV("v", false, false, false, true);
const KeyChord kControlC("c", true);

}  // namespace

TEST(KeyPayload, LegacyKeyWordsMatchExactly) {
    EXPECT_EQ(decodeChord(R"({"key":"enter"})"), kEnter);
    EXPECT_EQ(decodeChord(R"({"key":"interrupt"})"), kControlC);
    EXPECT_EQ(decodeChord(R"({"key":"copy"})"), kCommandC);
    EXPECT_EQ(decodeChord(R"({"key":"paste"})"), kCommandV);
    EXPECT_EQ(decodeChord(R"({"key":"paste"})").repeatCount, 1);
    EXPECT_EQ(decodeChord(R"({"key":"Paste"})"), kEscape);
    // A word form ignores the key-code fields beside it, even mistyped ones.
    EXPECT_EQ(decodeChord(R"({"key":"copy","keyCode":"x","control":1})"), kCommandC);
}

TEST(KeyPayload, LegacyKeyCodeTable) {
    EXPECT_EQ(decodeChord(R"({"keyCode":36,"control":true})"), kEnter);
    EXPECT_EQ(decodeChord(R"({"keyCode":8,"command":true,"control":true})"), kCommandC);
    EXPECT_EQ(decodeChord(R"({"keyCode":9,"command":true})"), kCommandV);
    EXPECT_EQ(decodeChord(R"({"keyCode":8,"control":true})"), kControlC);
    EXPECT_EQ(decodeChord(R"({"keyCode":8,"command":false,"control":true})"), kControlC);
    EXPECT_EQ(decodeChord(R"({"keyCode":8})"), kEscape);
    EXPECT_EQ(decodeChord(R"({"keyCode":9,"control":true})"), kEscape);
}

TEST(KeyPayload, EmptyObjectIsEscapeWithoutTarget) {
    auto payload = QuibCoder::decode<KeyPayload>("{}");
    ASSERT_TRUE(payload.ok());
    EXPECT_EQ(payload->chord, kEscape);
    EXPECT_FALSE(payload->targetID);
}

TEST(KeyPayload, KeyCodeOutOfRangeOrMistypedFails) {
    EXPECT_FALSE(QuibCoder::decode<KeyPayload>(R"({"keyCode":65536})").ok());
    EXPECT_FALSE(QuibCoder::decode<KeyPayload>(R"({"keyCode":-1})").ok());
    EXPECT_TRUE(QuibCoder::decode<KeyPayload>(R"({"keyCode":65535})").ok());
    EXPECT_FALSE(QuibCoder::decode<KeyPayload>(R"({"key":5})").ok());
    EXPECT_FALSE(QuibCoder::decode<KeyPayload>(R"({"keyCode":8,"control":"yes"})").ok());
    EXPECT_FALSE(QuibCoder::decode<KeyPayload>(R"({"chord":{"key":"c"},"targetID":7})").ok());
}

TEST(KeyPayload, ChordWinsOverLegacyKeysAndTargetAppliesToEveryForm) {
    auto payload = QuibCoder::decode<KeyPayload>(R"({"chord":{"key":"tab","shift":true},"key":5,"targetID":"T"})");
    ASSERT_TRUE(payload.ok());
    EXPECT_EQ(payload->chord, KeyChord("tab", false, false, true));
    EXPECT_EQ(payload->targetID, "T");

    auto legacy = QuibCoder::decode<KeyPayload>(R"({"keyCode":36,"targetID":"T2"})");
    ASSERT_TRUE(legacy.ok());
    EXPECT_EQ(legacy->targetID, "T2");
}

TEST(KeyPayload, EncodesChordFormOnlyAndRoundTrips) {
    const KeyPayload payload{KeyChord("c", true), std::string("T")};
    auto text = QuibCoder::encode(payload);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(
        *text,
        R"({"chord":{"key":"c","control":true,"option":false,"shift":false,"command":false,"repeatCount":1},"targetID":"T"})");
    EXPECT_EQ(QuibCoder::decode<KeyPayload>(*text).valueOr({}), payload);
    EXPECT_EQ(
        *QuibCoder::encode(KeyPayload{kEscape, std::nullopt}),
        R"({"chord":{"key":"escape","control":false,"option":false,"shift":false,"command":false,"repeatCount":1}})");
}

TEST(HelloPayload, DefaultsFillMissingKeys) {
    auto empty = QuibCoder::decode<HelloPayload>("{}");
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty->protocolVersion, 4);
    EXPECT_EQ(empty->deviceName, "iPhone");
    EXPECT_EQ(empty->deviceID, "legacy:iPhone");

    auto named = QuibCoder::decode<HelloPayload>(R"({"deviceName":"Ana's phone","deviceID":null})");
    ASSERT_TRUE(named.ok());
    EXPECT_EQ(named->deviceID, "legacy:Ana's phone");

    EXPECT_FALSE(QuibCoder::decode<HelloPayload>(R"({"protocolVersion":"23"})").ok());
    EXPECT_EQ(*QuibCoder::encode(*empty), R"({"protocolVersion":4,"deviceName":"iPhone","deviceID":"legacy:iPhone"})");
}

TEST(TextPayload, TextIsRequiredOthersOptional) {
    EXPECT_FALSE(QuibCoder::decode<TextPayload>(R"({"targetID":"T"})").ok());
    EXPECT_FALSE(QuibCoder::decode<TextPayload>(R"({"text":"hi","submit":"yes"})").ok());
    auto empty = QuibCoder::decode<TextPayload>(R"({"text":"","targetID":null})");
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty->text, "");
    EXPECT_FALSE(empty->targetID);
    EXPECT_FALSE(empty->submit);
    EXPECT_EQ(*QuibCoder::encode(*empty), R"({"text":""})");
    const TextPayload full{"hi", "T", false};
    EXPECT_EQ(QuibCoder::decode<TextPayload>(*QuibCoder::encode(full)).valueOr({}), full);
}

TEST(AgentEvent, KindMustBeKnownAndNoteIsOptional) {
    EXPECT_FALSE(QuibCoder::decode<AgentEvent>(R"({"targetID":"T","kind":"finished","atEpochMillis":1})").ok());
    EXPECT_FALSE(QuibCoder::decode<AgentEvent>(R"({"targetID":"T","kind":"done"})").ok());
    auto event = QuibCoder::decode<AgentEvent>(R"({"targetID":"T","kind":"waiting","atEpochMillis":1700000000000})");
    ASSERT_TRUE(event.ok());
    EXPECT_EQ(event->kind, AgentEvent::Kind::waiting);
    EXPECT_EQ(event->atEpochMillis, 1700000000000);
    EXPECT_FALSE(event->note);
    EXPECT_EQ(*QuibCoder::encode(*event), R"({"targetID":"T","kind":"waiting","atEpochMillis":1700000000000})");
    EXPECT_EQ(allCases<AgentEvent::Kind>(),
              (std::array{AgentEvent::Kind::done, AgentEvent::Kind::waiting, AgentEvent::Kind::failed}));
}

TEST(MouseButton, CaseNamesAreCaseSensitive) {
    EXPECT_EQ(decodeJson<MouseButton>(Json("middle")), MouseButton::middle);
    EXPECT_THROW(decodeJson<MouseButton>(Json("Left")), CodingError);
    EXPECT_EQ(encodeJson(ClickPhase::click), Json("click"));
}
