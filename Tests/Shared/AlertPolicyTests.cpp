#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "Shared/AlertPolicy.hpp"
#include "Shared/QuibCoder.hpp"

using namespace quib;
using Kind = AgentEvent::Kind;
using Suppression = AlertOutcome::Suppression;
using Ids = std::vector<std::string>;

namespace {

constexpr std::int64_t kT0 = 1'800'000'000'000;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

AgentEvent event(const std::string& target, Kind kind, std::int64_t at, std::optional<std::string> note = {}) {
    return AgentEvent{target, kind, at, std::move(note)};
}

ApprovalRequest request(const std::string& id, std::optional<std::string> target,
                        std::int64_t expires = kT0 + 120'000) {
    ApprovalRequest r;
    r.id = id;
    r.targetID = std::move(target);
    r.targetName = "Agent";
    r.title = "Run tests";
    r.detail = "make test";
    r.createdAtEpochMillis = kT0;
    r.expiresAtEpochMillis = expires;
    return r;
}

AlertSettings settings(bool done = false, double quietSeconds = 30, std::set<std::string> muted = {}) {
    return AlertSettings(true, true, true, done, true, true, quietSeconds, std::move(muted));
}

// An event of `target` at `at`, received at the same moment.
AlertOutcome receiveAt(AlertPolicy& policy, const std::string& target, Kind kind, std::int64_t at) {
    return policy.receive(event(target, kind, at), "Work", false, at);
}

bool sounds(const AlertOutcome& outcome) { return outcome.post && !outcome.post->isSilent; }

std::string repeated(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

}  // namespace

TEST(AlertPolicy, ATargetCalledUnknownSharesTheThreadOfNoTarget) {
    EXPECT_EQ(AlertPolicy::threadID(std::nullopt), "target.unknown");
    EXPECT_EQ(AlertPolicy::threadID("unknown"), AlertPolicy::threadID(std::nullopt));
}

TEST(AlertPolicy, EventDuplicatesCompareTimeThenKind) {
    AlertPolicy policy(settings());
    EXPECT_TRUE(receiveAt(policy, "T1", Kind::waiting, kT0).post);
    const auto again = receiveAt(policy, "T1", Kind::waiting, kT0);
    EXPECT_EQ(again, (AlertOutcome{.badge = 1, .suppression = Suppression::duplicate}));
    EXPECT_TRUE(receiveAt(policy, "T1", Kind::failed, kT0).post);
    EXPECT_EQ(receiveAt(policy, "T1", Kind::waiting, kT0 - 1).suppression, Suppression::duplicate);

    // A newer event is remembered even when it alerts about nothing.
    EXPECT_EQ(receiveAt(policy, "T2", Kind::done, kT0 + 10).suppression, Suppression::disabled);
    EXPECT_EQ(receiveAt(policy, "T2", Kind::waiting, kT0 + 5).suppression, Suppression::duplicate);
}

TEST(AlertPolicy, ASuppressedEventStillTakesBackItsTargetsEventAlerts) {
    AlertPolicy policy(settings());
    receiveAt(policy, "T1", Kind::waiting, kT0);
    policy.receive(request("R1", "T1"), false, kT0);
    receiveAt(policy, "T2", Kind::waiting, kT0);
    const auto done = receiveAt(policy, "T1", Kind::done, kT0 + 1);
    EXPECT_EQ(done, (AlertOutcome{.withdraw = {"agent.event.T1"}, .badge = 2, .suppression = Suppression::disabled}));
    // The target's approval alert and the other target's alert stay.
    EXPECT_TRUE(policy.outstanding().contains("agent.approval.R1"));
    EXPECT_TRUE(policy.outstanding().contains("agent.event.T2"));
}

TEST(AlertPolicy, ANewerEventReplacesTheOlderAlertUnderItsId) {
    AlertPolicy policy(settings());
    receiveAt(policy, "T1", Kind::failed, kT0);
    const auto waiting = receiveAt(policy, "T1", Kind::waiting, kT0 + 1);
    ASSERT_TRUE(waiting.post);
    EXPECT_EQ(waiting.post->id, "agent.event.T1");
    EXPECT_EQ(waiting.post->kind, AgentAlert::Kind::waiting);
    EXPECT_TRUE(waiting.withdraw.empty());
    EXPECT_EQ(waiting.badge, 1);
}

TEST(AlertPolicy, AnEventAlertCarriesItsTargetAndKind) {
    AlertPolicy policy(settings(true));
    const auto outcome = policy.receive(event("T1", Kind::done, kT0), "Build", false, kT0);
    ASSERT_TRUE(outcome.post);
    EXPECT_EQ(*QuibCoder::encode(*outcome.post),
              R"({"id":"agent.event.T1","threadID":"target.T1","title":"Build","body":"Finished","kind":"done",)"
              R"("targetID":"T1","isSilent":false,"isTimeSensitive":false,"relevance":0.3,"badge":1})");
    const auto failed = policy.receive(event("T2", Kind::failed, kT0), "Build", false, kT0);
    EXPECT_EQ(failed.post->body, "Something failed");
    EXPECT_EQ(failed.post->relevance, 0.8);
    EXPECT_TRUE(failed.post->isTimeSensitive);
}

TEST(AlertPolicy, StalenessIsMeasuredWithoutOverflow) {
    AlertPolicy policy(settings());
    EXPECT_TRUE(policy.receive(event("T1", Kind::waiting, kT0 - 300'000), "W", false, kT0).post);
    // A stale event still takes back its target's older alert.
    const auto stale = policy.receive(event("T1", Kind::failed, kT0 - 299'999), "W", false, kT0 + 2);
    EXPECT_EQ(stale, (AlertOutcome{.withdraw = {"agent.event.T1"}, .badge = 0, .suppression = Suppression::stale}));

    // Agents may send any time at all: the far past is stale, the far future is not.
    EXPECT_EQ(policy.receive(event("T2", Kind::waiting, kMin), "W", false, kT0).suppression, Suppression::stale);
    EXPECT_EQ(policy.receive(event("T3", Kind::waiting, kMin), "W", false, kMax).suppression, Suppression::stale);
    EXPECT_TRUE(policy.receive(event("T4", Kind::waiting, kMax), "W", false, kT0).post);
    EXPECT_TRUE(policy.receive(event("T5", Kind::waiting, kMin), "W", false, kMin + 5).post);
}

TEST(AlertPolicy, EventRulesApplyInOrder) {
    AlertPolicy policy(settings(false, 30, {"T1", "T2"}));
    // Muted wins over stale and foreground; disabled wins over muted.
    EXPECT_EQ(policy.receive(event("T1", Kind::done, kT0), "W", true, kT0).suppression, Suppression::disabled);
    EXPECT_EQ(policy.receive(event("T2", Kind::waiting, 0), "W", true, kT0).suppression, Suppression::muted);
    EXPECT_EQ(policy.receive(event("T3", Kind::waiting, 0), "W", true, kT0).suppression, Suppression::stale);
    EXPECT_EQ(policy.receive(event("T4", Kind::waiting, kT0), "W", true, kT0).suppression, Suppression::foreground);
    EXPECT_EQ(policy.badge(), 0);
}

TEST(AlertPolicy, QuietWindowSilencesOneThreadAndTheGapAllThreads) {
    AlertPolicy policy(settings());
    EXPECT_TRUE(sounds(receiveAt(policy, "T1", Kind::waiting, kT0)));
    EXPECT_FALSE(sounds(receiveAt(policy, "T2", Kind::waiting, kT0 + 2'999)));
    EXPECT_TRUE(sounds(receiveAt(policy, "T2", Kind::failed, kT0 + 3'000)));
    EXPECT_FALSE(sounds(receiveAt(policy, "T1", Kind::failed, kT0 + 10'000)));
    EXPECT_TRUE(sounds(receiveAt(policy, "T1", Kind::waiting, kT0 + 31'000)));
}

TEST(AlertPolicy, ASilentAlertMovesNeitherClock) {
    AlertPolicy policy(settings());
    EXPECT_TRUE(sounds(receiveAt(policy, "T1", Kind::waiting, kT0)));
    EXPECT_FALSE(sounds(receiveAt(policy, "T2", Kind::waiting, kT0 + 2'000)));
    EXPECT_FALSE(sounds(receiveAt(policy, "T1", Kind::failed, kT0 + 10'000)));
    EXPECT_TRUE(sounds(receiveAt(policy, "T2", Kind::failed, kT0 + 12'000)));
    EXPECT_TRUE(sounds(receiveAt(policy, "T1", Kind::waiting, kT0 + 30'000)));
}

TEST(AlertPolicy, TheQuietWindowIsTruncatedToWholeMilliseconds) {
    AlertPolicy policy(settings(false, 12.3456));
    receiveAt(policy, "T1", Kind::waiting, kT0);
    EXPECT_FALSE(sounds(receiveAt(policy, "T1", Kind::failed, kT0 + 12'344)));
    EXPECT_TRUE(sounds(receiveAt(policy, "T1", Kind::waiting, kT0 + 12'345)));
}

TEST(AlertPolicy, NothingSoundsWhenSoundIsOff) {
    AlertPolicy policy(AlertSettings(true, true, true, false, true, false, 0, {}));
    EXPECT_FALSE(sounds(receiveAt(policy, "T1", Kind::waiting, kT0)));
    EXPECT_FALSE(sounds(policy.receive(request("R1", "T2"), false, kT0 + 60'000)));
}

TEST(AlertPolicy, ApprovalsIgnoreTheQuietWindowButStartIt) {
    AlertPolicy policy(settings());
    EXPECT_TRUE(sounds(receiveAt(policy, "T1", Kind::waiting, kT0)));
    EXPECT_FALSE(sounds(policy.receive(request("R0", "T9"), false, kT0 + 1'000)));  // within the gap
    EXPECT_TRUE(sounds(policy.receive(request("R1", "T1"), false, kT0 + 5'000)));
    // 32 s after the event's sound but 27 s after the approval's: still quiet.
    EXPECT_FALSE(sounds(receiveAt(policy, "T1", Kind::failed, kT0 + 32'000)));
    EXPECT_TRUE(sounds(receiveAt(policy, "T1", Kind::waiting, kT0 + 35'000)));
}

TEST(AlertPolicy, AnOutstandingApprovalIsADuplicateUntilResolved) {
    AlertPolicy policy(settings());
    EXPECT_TRUE(policy.receive(request("R1", "T1"), false, kT0).post);
    EXPECT_EQ(policy.receive(request("R1", "T1"), false, kT0 + 1),
              (AlertOutcome{.badge = 1, .suppression = Suppression::duplicate}));
    EXPECT_EQ(policy.resolved("R1"), (AlertOutcome{.withdraw = {"agent.approval.R1"}, .badge = 0}));
    EXPECT_TRUE(policy.receive(request("R1", "T1"), false, kT0 + 2).post);
}

TEST(AlertPolicy, ApprovalRulesApplyInOrder) {
    AlertPolicy policy(settings(false, 30, {"T1"}));
    EXPECT_EQ(policy.receive(request("R1", "T1", kT0), true, kT0).suppression, Suppression::muted);
    EXPECT_EQ(policy.receive(request("R2", std::nullopt, kT0), true, kT0).suppression, Suppression::expired);
    EXPECT_EQ(policy.receive(request("R3", std::nullopt), true, kT0).suppression, Suppression::foreground);
    AlertPolicy noApprovals(AlertSettings(true, true, true, false, false, true, 30, {"T1"}));
    EXPECT_EQ(noApprovals.receive(request("R1", "T1", kT0), true, kT0).suppression, Suppression::disabled);
}

TEST(AlertPolicy, AnApprovalAlertShowsTheRequest) {
    AlertPolicy policy(settings());
    receiveAt(policy, "T1", Kind::waiting, kT0);
    ApprovalRequest r = request("R1", std::nullopt);
    r.targetName = "an agent";
    r.title = "Run ls";
    r.detail = "ls -la\n\n  ok";
    const auto outcome = policy.receive(r, false, kT0 + 1'000);
    ASSERT_TRUE(outcome.post);
    EXPECT_EQ(*QuibCoder::encode(*outcome.post),
              R"({"id":"agent.approval.R1","threadID":"target.unknown","title":"an agent","subtitle":"Run ls",)"
              R"("body":"ls -la · ok","kind":"approval","approvalID":"R1","isSilent":true,"isTimeSensitive":true,)"
              R"("relevance":1.0,"badge":2})");
    // The detail is not trimmed of other white space first.
    r.id = "R2";
    r.detail = "\u3000x";
    EXPECT_EQ(policy.receive(r, false, kT0).post->body, "\u3000x");
    r.id = "R3";
    r.detail = "";
    EXPECT_EQ(policy.receive(r, false, kT0).post->body, "");
}

TEST(AlertPolicy, EventBodiesComeFromTheTrimmedNote) {
    AlertPolicy policy(settings());
    const auto body = [&](const std::string& target, Kind kind, std::optional<std::string> note) {
        return policy.receive(event(target, kind, kT0, std::move(note)), "W", false, kT0).post->body;
    };
    EXPECT_EQ(body("T1", Kind::waiting, " \n\t\u2028\u3000\r\n "), "Waiting for you");
    EXPECT_EQ(body("T2", Kind::failed, std::nullopt), "Something failed");
    EXPECT_EQ(body("T3", Kind::waiting, "build\n\n  ok  "), "build · ok");
    EXPECT_EQ(body("T4", Kind::waiting, "\u3000" + repeated("a", 200) + "\n"), repeated("a", 200));
}

TEST(AlertPolicy, FirstLinesJoinsTrimmedLinesAndCutsAtTheLimit) {
    EXPECT_EQ(AlertPolicy::firstLines("build\n\n  ok  ", 200), "build · ok");
    EXPECT_EQ(AlertPolicy::firstLines("\ta\t\n  \nb\n", 200), "a ·  · b");
    EXPECT_EQ(AlertPolicy::firstLines("a\r\nb", 200), "a\r\nb");
    EXPECT_EQ(AlertPolicy::firstLines("\u00A0a", 200), "\u00A0a");
    EXPECT_EQ(AlertPolicy::firstLines(repeated("x", 250), 200), repeated("x", 200) + "…");
    EXPECT_EQ(AlertPolicy::firstLines(repeated("x", 200), 200), repeated("x", 200));
    // The limit counts user-perceived characters, and the separator counts as three.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    EXPECT_EQ(AlertPolicy::firstLines(repeated(family, 200), 200), repeated(family, 200));
    EXPECT_EQ(AlertPolicy::firstLines(repeated(family, 201), 200), repeated(family, 200) + "…");
    EXPECT_EQ(AlertPolicy::firstLines("ab\ncd", 4), "ab ·…");
}

TEST(AlertPolicy, BadgesCountOutstandingAlertsAndOpeningClearsThem) {
    AlertPolicy policy(settings());
    EXPECT_EQ(receiveAt(policy, "T2", Kind::waiting, kT0).post->badge, 1);
    EXPECT_EQ(receiveAt(policy, "T1", Kind::waiting, kT0).post->badge, 2);
    EXPECT_EQ(policy.opened(), (AlertOutcome{.withdraw = {"agent.event.T1", "agent.event.T2"}, .badge = 0}));
    // What was heard and sounded is remembered until a reset.
    EXPECT_EQ(receiveAt(policy, "T1", Kind::waiting, kT0).suppression, Suppression::duplicate);
    EXPECT_FALSE(sounds(receiveAt(policy, "T3", Kind::waiting, kT0)));
    EXPECT_EQ(policy.reset(), (AlertOutcome{.withdraw = {"agent.event.T3"}, .badge = 0}));
    EXPECT_TRUE(sounds(receiveAt(policy, "T1", Kind::waiting, kT0)));
    EXPECT_EQ(policy.undo("agent.event.T1"), (AlertOutcome{.badge = 0}));
}

TEST(AlertPolicy, NewSettingsTakeBackWhatTheyNoLongerAllow) {
    AlertPolicy policy(settings(true));
    receiveAt(policy, "T1", Kind::waiting, kT0);
    receiveAt(policy, "T2", Kind::failed, kT0);
    receiveAt(policy, "T4", Kind::done, kT0);
    policy.receive(request("R1", "T3"), false, kT0);
    policy.receive(request("R2", "T1"), false, kT0);
    EXPECT_EQ(policy.apply(AlertSettings(true, true, false, true, true, true, 30, {"T3"})),
              (AlertOutcome{.withdraw = {"agent.approval.R1", "agent.event.T2"}, .badge = 3}));
    EXPECT_EQ(policy.apply(AlertSettings(true, true, true, false, false, true, 30, {})),
              (AlertOutcome{.withdraw = {"agent.approval.R2", "agent.event.T4"}, .badge = 1}));
    EXPECT_EQ(policy.apply(AlertSettings(false, true, true, true, true, true, 30, {})),
              (AlertOutcome{.withdraw = {"agent.event.T1"}, .badge = 0}));
}

TEST(AlertPolicy, RetainingApprovalsKeepsEventAlerts) {
    AlertPolicy policy(settings());
    receiveAt(policy, "T1", Kind::waiting, kT0);
    policy.receive(request("R1", "T1"), false, kT0);
    policy.receive(request("R2", "T1"), false, kT0);
    policy.receive(request("R3", std::nullopt), false, kT0);
    EXPECT_EQ(policy.retainApprovals({"R2", "R3", "R9"}),
              (AlertOutcome{.withdraw = {"agent.approval.R1"}, .badge = 3}));
    // R2 has expired at "now", R3 is no longer pending.
    const auto outcome = policy.expireApprovals({request("R2", "T1", kT0 + 10), request("R4", "T1")}, kT0 + 10);
    EXPECT_EQ(outcome, (AlertOutcome{.withdraw = {"agent.approval.R2", "agent.approval.R3"}, .badge = 1}));
    EXPECT_TRUE(policy.outstanding().contains("agent.event.T1"));
}
