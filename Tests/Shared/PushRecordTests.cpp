#include <gtest/gtest.h>

#include "Runtime/UnicodeText.hpp"
#include "Shared/AgentAlert.hpp"
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

TEST(AlertSettings, InitialiserClampsTheQuietWindow) {
    const auto quiet = [](double seconds) {
        return AlertSettings(true, true, true, false, true, true, seconds, {}).quietSeconds;
    };
    EXPECT_EQ(quiet(-5), 0);
    EXPECT_EQ(quiet(900), 300);
    EXPECT_EQ(quiet(12.5), 12.5);
}

TEST(AlertSettings, AllowsNeedsTheMasterSwitchAndTheKindsFlag) {
    const AlertSettings defaults;
    EXPECT_TRUE(defaults.allows(AgentEvent::Kind::waiting));
    EXPECT_TRUE(defaults.allows(AgentEvent::Kind::failed));
    EXPECT_FALSE(defaults.allows(AgentEvent::Kind::done));
    const AlertSettings off(false, true, true, true, true, true, 30, {});
    for (auto kind : allCases<AgentEvent::Kind>()) EXPECT_FALSE(off.allows(kind));
}

TEST(AlertSettings, AnAbsentTargetIsNeverMuted) {
    const AlertSettings s(true, true, true, false, true, true, 30, {"T1"});
    EXPECT_TRUE(s.isMuted("T1"));
    EXPECT_FALSE(s.isMuted("T2"));
    EXPECT_FALSE(s.isMuted(std::nullopt));
}

TEST(AgentAlert, EmptyObjectTakesEveryDefault) {
    auto a = QuibCoder::decode<AgentAlert>("{}");
    auto b = QuibCoder::decode<AgentAlert>("{}");
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_EQ(a->id.size(), 36u);
    EXPECT_EQ(a->id, unicode::upper(a->id));
    EXPECT_NE(a->id, b->id);
    EXPECT_EQ(a->threadID, "target.unknown");
    EXPECT_EQ(a->title, "Quib");
    EXPECT_FALSE(a->subtitle || a->targetID || a->approvalID);
    EXPECT_EQ(a->body, "Something needs you");
    EXPECT_EQ(a->kind, AgentAlert::Kind::waiting);
    EXPECT_FALSE(a->isSilent);
    EXPECT_TRUE(a->isTimeSensitive);
    EXPECT_EQ(a->relevance, 0.9);
    EXPECT_EQ(a->badge, 0);
}

TEST(AgentAlert, AnUnknownKindReadsAsWaitingButAWrongTypeFails) {
    EXPECT_EQ(QuibCoder::decode<AgentAlert>(R"({"kind":"other"})")->kind, AgentAlert::Kind::waiting);
    EXPECT_EQ(QuibCoder::decode<AgentAlert>(R"({"kind":"approval"})")->kind, AgentAlert::Kind::approval);
    EXPECT_FALSE(QuibCoder::decode<AgentAlert>(R"({"kind":3})").ok());
    EXPECT_FALSE(QuibCoder::decode<AgentAlert>(R"({"badge":"1"})").ok());
    EXPECT_FALSE(QuibCoder::decode<AgentAlert>(R"({"isSilent":1})").ok());
}

TEST(AgentAlert, EncodesInOrderAndLeavesOutAbsentOptionals) {
    AgentAlert alert{
        .id = "A", .threadID = "target.unknown", .title = "Quib", .body = "b", .kind = AgentAlert::Kind::failed};
    EXPECT_EQ(*QuibCoder::encode(alert),
              R"({"id":"A","threadID":"target.unknown","title":"Quib","body":"b","kind":"failed",)"
              R"("isSilent":false,"isTimeSensitive":true,"relevance":0.9,"badge":0})");
    alert.subtitle = "s";
    alert.targetID = "T";
    alert.approvalID = "R";
    const auto text = *QuibCoder::encode(alert);
    EXPECT_NE(text.find(R"("title":"Quib","subtitle":"s","body":"b","kind":"failed","targetID":"T","approvalID":"R",)"),
              std::string::npos);
    EXPECT_EQ(QuibCoder::decode<AgentAlert>(text).value(), alert);
}
