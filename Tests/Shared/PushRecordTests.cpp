#include <gtest/gtest.h>

#include "Shared/AlertSettings.hpp"
#include "Shared/PushRegistration.hpp"
#include "Shared/QuibCoder.hpp"

using namespace quib;

TEST(AlertSettings, EmptyObjectTakesEveryDefault) {
    auto s = QuibCoder::decode<AlertSettings>("{}");
    ASSERT_TRUE(s.ok());
    EXPECT_TRUE(s->isEnabled && s->waiting && s->failed && s->approvals && s->playsSound);
    EXPECT_FALSE(s->done);
    EXPECT_EQ(s->quietSeconds, 30);
    EXPECT_TRUE(s->mutedTargetIDs.empty());
    EXPECT_EQ(*s, AlertSettings{});
}

TEST(AlertSettings, QuietSecondsAreClamped) {
    EXPECT_EQ(QuibCoder::decode<AlertSettings>(R"({"quietSeconds":-5})")->quietSeconds, 0);
    EXPECT_EQ(QuibCoder::decode<AlertSettings>(R"({"quietSeconds":900})")->quietSeconds, 300);
    EXPECT_EQ(QuibCoder::decode<AlertSettings>(R"({"quietSeconds":12.5})")->quietSeconds, 12.5);
    EXPECT_EQ(QuibCoder::decode<AlertSettings>(R"({"quietSeconds":300})")->quietSeconds, 300);
}

TEST(AlertSettings, WrongTypesFailAndMutedTargetsAreASet) {
    EXPECT_FALSE(QuibCoder::decode<AlertSettings>(R"({"done":"yes"})").ok());
    EXPECT_FALSE(QuibCoder::decode<AlertSettings>(R"({"quietSeconds":"30"})").ok());
    EXPECT_FALSE(QuibCoder::decode<AlertSettings>(R"({"mutedTargetIDs":"T"})").ok());
    auto s = QuibCoder::decode<AlertSettings>(R"({"mutedTargetIDs":["b","a","b"],"done":true})");
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s->mutedTargetIDs, (std::set<std::string>{"a", "b"}));
    EXPECT_EQ(QuibCoder::decode<AlertSettings>(*QuibCoder::encode(*s)).value(), *s);
}

TEST(PushRegistration, EmptyObjectHasNoTokenAndDefaultSettings) {
    auto r = QuibCoder::decode<PushRegistration>("{}");
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r->token);
    EXPECT_FALSE(r->usesSandbox);
    EXPECT_EQ(r->settings, AlertSettings{});
    EXPECT_EQ(*QuibCoder::encode(*r),
              R"({"usesSandbox":false,"settings":{"isEnabled":true,"waiting":true,"failed":true,"done":false,)"
              R"("approvals":true,"playsSound":true,"quietSeconds":30.0,"mutedTargetIDs":[]}})");
}

TEST(PushRegistration, WrongTypesFailTheRegistration) {
    EXPECT_FALSE(QuibCoder::decode<PushRegistration>(R"({"token":5})").ok());
    EXPECT_FALSE(QuibCoder::decode<PushRegistration>(R"({"settings":{"waiting":0}})").ok());
    auto r = QuibCoder::decode<PushRegistration>(R"({"token":"","usesSandbox":true,"settings":{"quietSeconds":1000}})");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->token, "");
    EXPECT_TRUE(r->usesSandbox);
    EXPECT_EQ(r->settings.quietSeconds, 300);
}
