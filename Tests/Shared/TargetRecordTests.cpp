#include <gtest/gtest.h>

#include "Shared/MacApp.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/QuibTarget.hpp"
#include "Shared/TmuxPane.hpp"

using namespace quib;

TEST(QuibTarget, EmptyObjectTakesEveryDefault) {
    auto a = QuibCoder::decode<QuibTarget>("{}");
    auto b = QuibCoder::decode<QuibTarget>("{}");
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_EQ(a->id.size(), 36u);
    EXPECT_EQ(a->id.find_first_of("abcdef"), std::string::npos);
    EXPECT_NE(a->id, b->id);
    EXPECT_EQ(a->name, "Target");
    EXPECT_EQ(a->kind, QuibTarget::Kind::frontmost);
    EXPECT_TRUE(a->submitOnSend);
    EXPECT_TRUE(a->allowAutoSubmit);
    EXPECT_EQ(a->symbol, "square.dashed");
    EXPECT_FALSE(a->isProvisional);
    EXPECT_FALSE(a->bundleID || a->tmuxTarget || a->profileID || a->pinnedWindowID || a->pinnedWindowTitle);
}

TEST(QuibTarget, WrongTypesAndUnknownKindsFail) {
    EXPECT_FALSE(QuibCoder::decode<QuibTarget>(R"({"kind":"window"})").ok());
    EXPECT_FALSE(QuibCoder::decode<QuibTarget>(R"({"pinnedWindowID":4294967296})").ok());
    EXPECT_FALSE(QuibCoder::decode<QuibTarget>(R"({"pinnedWindowID":-1})").ok());
    EXPECT_FALSE(QuibCoder::decode<QuibTarget>(R"({"submitOnSend":1})").ok());
    EXPECT_FALSE(QuibCoder::decode<QuibTarget>(R"({"name":7})").ok());
    EXPECT_EQ(QuibCoder::decode<QuibTarget>(R"({"kind":null})")->kind, QuibTarget::Kind::frontmost);
    EXPECT_EQ(QuibCoder::decode<QuibTarget>(R"({"pinnedWindowID":4294967295})")->pinnedWindowID, 4294967295u);
    EXPECT_FALSE(QuibCoder::decode<QuibTarget>(R"({"submitOnSend":false})")->submitOnSend);
    EXPECT_TRUE(QuibCoder::decode<QuibTarget>(R"({"submitOnSend":null})")->submitOnSend);
}

TEST(QuibTarget, StableTmuxIdentifier) {
    QuibTarget t;
    EXPECT_FALSE(t.hasStableTmuxID());
    t.tmuxTarget = "%12";
    EXPECT_TRUE(t.hasStableTmuxID());
    t.tmuxTarget = "work:1.0";
    EXPECT_FALSE(t.hasStableTmuxID());
}

TEST(QuibTarget, AbsentOptionalsAreLeftOutAndRoundTrip) {
    QuibTarget t = *QuibCoder::decode<QuibTarget>(R"({"id":"X","kind":"tmux","tmuxTarget":"%3"})");
    const std::string text = *QuibCoder::encode(t);
    EXPECT_EQ(text.find("pinnedWindowID"), std::string::npos);
    EXPECT_EQ(text.find("null"), std::string::npos);
    EXPECT_EQ(*QuibCoder::decode<QuibTarget>(text), t);
    t.pinnedWindowID = 77;
    t.pinnedWindowTitle = "Editor";
    EXPECT_EQ(*QuibCoder::decode<QuibTarget>(*QuibCoder::encode(t)), t);
}

TEST(MacApp, DefaultsIconsAndTargets) {
    auto app = QuibCoder::decode<MacApp>("{}");
    ASSERT_TRUE(app.ok());
    EXPECT_EQ(app->bundleID, "");
    EXPECT_EQ(app->symbol, "app");
    EXPECT_FALSE(app->icon || app->lastUsedEpochMillis || app->isRunning || app->isAdded);
    EXPECT_EQ(app->useCount, 0);

    EXPECT_FALSE(QuibCoder::decode<MacApp>(R"({"icon":"not base64!"})").ok());
    auto withIcon = QuibCoder::decode<MacApp>(R"({"bundleID":"com.example.editor","name":"Editor","icon":"iVBORw=="})");
    ASSERT_TRUE(withIcon.ok());
    EXPECT_EQ(withIcon->icon, (Bytes{0x89, 'P', 'N', 'G'}));
    EXPECT_EQ(*QuibCoder::decode<MacApp>(*QuibCoder::encode(*withIcon)), *withIcon);

    const QuibTarget t1 = withIcon->asTarget();
    const QuibTarget t2 = withIcon->asTarget();
    EXPECT_NE(t1.id, t2.id);
    EXPECT_EQ(t1.kind, QuibTarget::Kind::app);
    EXPECT_EQ(t1.bundleID, "com.example.editor");
    EXPECT_EQ(t1.name, "Editor");
    EXPECT_EQ(t1.symbol, "app");
}

TEST(TmuxPane, DecodesStrictly) {
    EXPECT_FALSE(QuibCoder::decode<TmuxPane>(R"({"id":"%1","spec":"a:0.0","command":"zsh"})").ok());
    EXPECT_FALSE(QuibCoder::decode<TmuxPane>(R"({"id":"%1","spec":"a:0.0","command":"zsh","path":null})").ok());
    auto pane = QuibCoder::decode<TmuxPane>(R"({"id":"%1","spec":"a:0.0","command":"zsh","path":"/srv"})");
    ASSERT_TRUE(pane.ok());
    EXPECT_EQ(*QuibCoder::decode<TmuxPane>(*QuibCoder::encode(*pane)), *pane);
}

TEST(TmuxPane, ShortPathKeepsTheLastTwoPieces) {
    auto shortPath = [](std::string path) { return TmuxPane{"%1", "s:0.0", "sh", std::move(path)}.shortPath(); };
    EXPECT_EQ(shortPath("/srv/build/app/src"), "app/src");
    EXPECT_EQ(shortPath("/srv/build/"), "srv/build");
    EXPECT_EQ(shortPath("//srv//build"), "srv/build");
    EXPECT_EQ(shortPath("single"), "single");
    EXPECT_EQ(shortPath("/"), "");
    EXPECT_EQ(shortPath(""), "");
}
