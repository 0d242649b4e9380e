#include <gtest/gtest.h>

#include "Shared/KeyChord.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/ShortcutAction.hpp"
#include "Shared/ShortcutProfile.hpp"

using namespace quib;

TEST(KeyChord, InitialiserClampsRepeatCount) {
    EXPECT_EQ(KeyChord("a", false, false, false, false, 0).repeatCount, 1);
    EXPECT_EQ(KeyChord("a", false, false, false, false, -3).repeatCount, 1);
    EXPECT_EQ(KeyChord("a", false, false, false, false, 9).repeatCount, 4);
    EXPECT_EQ(KeyChord("a", false, false, false, false, 3).repeatCount, 3);
}

TEST(KeyChord, DecodeIsTolerantAndClamps) {
    auto empty = QuibCoder::decode<KeyChord>("{}");
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(*empty, KeyChord("escape"));
    EXPECT_EQ(QuibCoder::decode<KeyChord>(R"({"repeatCount":0})")->repeatCount, 1);
    EXPECT_EQ(QuibCoder::decode<KeyChord>(R"({"repeatCount":-3})")->repeatCount, 1);
    EXPECT_EQ(QuibCoder::decode<KeyChord>(R"({"repeatCount":9})")->repeatCount, 4);
    EXPECT_EQ(QuibCoder::decode<KeyChord>(R"({"repeatCount":-9223372036854775808})")->repeatCount, 1);
    // Key names are not checked against any table.
    EXPECT_EQ(QuibCoder::decode<KeyChord>(R"({"key":"F1","extra":1})")->key, "F1");
    EXPECT_FALSE(QuibCoder::decode<KeyChord>(R"({"key":3})").ok());
    EXPECT_FALSE(QuibCoder::decode<KeyChord>(R"({"shift":"true"})").ok());
}

TEST(KeyChord, EncodesAllSixKeys) {
    EXPECT_EQ(*QuibCoder::encode(KeyChord()),
              R"({"key":"escape","control":false,"option":false,"shift":false,"command":false,"repeatCount":1})");
    const KeyChord chord("tab", true, true, true, true, 2);
    EXPECT_EQ(QuibCoder::decode<KeyChord>(*QuibCoder::encode(chord)).valueOr({}), chord);
}

TEST(ShortcutAction, EmptyObjectTakesDefaultsWithFreshId) {
    auto first = QuibCoder::decode<ShortcutAction>("{}");
    auto second = QuibCoder::decode<ShortcutAction>("{}");
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_EQ(first->id.size(), 36u);
    EXPECT_NE(first->id, second->id);
    EXPECT_EQ(first->label, "key");
    EXPECT_EQ(first->symbol, "keyboard");
    EXPECT_EQ(first->kind, ShortcutAction::Kind::key);
    EXPECT_FALSE(first->chord);
    EXPECT_FALSE(first->note);
    EXPECT_FALSE(first->glyphOnly);
}

TEST(ShortcutAction, EncodeLeavesOutAbsentChordAndNote) {
    const ShortcutAction dictate{
        "dictate", "talk", "mic.fill", ShortcutAction::Kind::dictate, std::nullopt, std::string("Transcribed here."),
        false};
    EXPECT_EQ(
        *QuibCoder::encode(dictate),
        R"({"id":"dictate","label":"talk","symbol":"mic.fill","kind":"dictate","note":"Transcribed here.","glyphOnly":false})");
    const ShortcutAction copy{
        "copy",       "copy", "doc.on.doc", ShortcutAction::Kind::key, KeyChord("c", false, false, false, true),
        std::nullopt, true};
    EXPECT_EQ(QuibCoder::decode<ShortcutAction>(*QuibCoder::encode(copy)).valueOr({}), copy);
    EXPECT_FALSE(QuibCoder::decode<ShortcutAction>(R"({"kind":"press"})").ok());
    EXPECT_FALSE(QuibCoder::decode<ShortcutAction>(R"({"glyphOnly":1})").ok());
}

TEST(ShortcutProfile, EmptyObjectIsTheGenericAppProfile) {
    auto profile = QuibCoder::decode<ShortcutProfile>("{}");
    ASSERT_TRUE(profile.ok());
    EXPECT_EQ(profile->id, "app");
    EXPECT_EQ(profile->name, "App");
    EXPECT_TRUE(profile->commands.empty());
    EXPECT_TRUE(profile->bundleIDs.empty());
    EXPECT_TRUE(profile->actions.empty());
    EXPECT_EQ(*QuibCoder::encode(*profile), R"({"id":"app","name":"App","commands":[],"bundleIDs":[],"actions":[]})");
}

TEST(ShortcutProfile, OneBadActionFailsTheProfile) {
    EXPECT_TRUE(QuibCoder::decode<ShortcutProfile>(R"({"actions":[{"id":"a"},{"kind":"dictate"}]})").ok());
    EXPECT_FALSE(QuibCoder::decode<ShortcutProfile>(R"({"actions":[{"id":"a"},{"kind":"wave"}]})").ok());
    EXPECT_FALSE(QuibCoder::decode<ShortcutProfile>(R"({"commands":"zsh"})").ok());
}
