#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include "Runtime/Clock.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/UnicodeText.hpp"
#include "Shared/ApprovalClock.hpp"
#include "Shared/ApprovalRequest.hpp"
#include "Shared/ApprovalResolution.hpp"
#include "Shared/QuibCoder.hpp"

using namespace quib;

namespace {

constexpr std::int64_t kFakeNowMillis = 1'800'000'000'000;

// Installs a FakeClock as the approval clock for one test.
class FakeApprovalClock {
public:
    FakeApprovalClock() { ApprovalClock::use(clock_); }
    ~FakeApprovalClock() { ApprovalClock::use(nullptr); }
    FakeClock& clock() { return *clock_; }

private:
    std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>(
        MonoTime(std::chrono::hours(1)), WallTime(std::chrono::milliseconds(kFakeNowMillis)));
};

std::string repeated(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

std::string detailJson(const std::string& detail) { return Json{{"detail", detail}}.dump(); }

}  // namespace

TEST(ApprovalClock, RoundsToTheNearestMillisecond) {
    EXPECT_EQ(ApprovalClock::millis(WallTime(std::chrono::microseconds(1'499))), 1);
    EXPECT_EQ(ApprovalClock::millis(WallTime(std::chrono::microseconds(1'500))), 2);
    EXPECT_EQ(ApprovalClock::millis(WallTime(std::chrono::microseconds(-1'500))), -2);
    EXPECT_EQ(ApprovalClock::millis(WallTime(std::chrono::microseconds(-1'499))), -1);
}

TEST(ApprovalRequest, EmptyObjectTakesDefaultsFromTheInjectedClock) {
    FakeApprovalClock fake;
    auto a = QuibCoder::decode<ApprovalRequest>("{}");
    auto b = QuibCoder::decode<ApprovalRequest>("{}");
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_EQ(a->id.size(), 36u);
    EXPECT_NE(a->id, b->id);
    EXPECT_FALSE(a->targetID);
    EXPECT_EQ(a->targetName, "an agent");
    EXPECT_EQ(a->title, "Asking permission");
    EXPECT_EQ(a->detail, "");
    EXPECT_EQ(a->kind, ApprovalRequest::Kind::other);
    EXPECT_EQ(a->createdAtEpochMillis, kFakeNowMillis);
    EXPECT_EQ(a->expiresAtEpochMillis, kFakeNowMillis + 120'000);
    EXPECT_EQ(a->onExpiry, ApprovalDecision::deny);

    fake.clock().setWallTime(WallTime(std::chrono::milliseconds(kFakeNowMillis + 5)));
    EXPECT_EQ(QuibCoder::decode<ApprovalRequest>("{}")->createdAtEpochMillis, kFakeNowMillis + 5);
}

TEST(ApprovalRequest, ExpiryFollowsCreationOrIsTakenAsSent) {
    auto derived = QuibCoder::decode<ApprovalRequest>(R"({"createdAtEpochMillis":1000})");
    EXPECT_EQ(derived->expiresAtEpochMillis, 121'000);
    auto sent = QuibCoder::decode<ApprovalRequest>(R"({"createdAtEpochMillis":1000,"expiresAtEpochMillis":500})");
    EXPECT_EQ(sent->expiresAtEpochMillis, 500);
    // A creation time at the top of the range keeps its expiry there instead of wrapping.
    auto top = QuibCoder::decode<ApprovalRequest>(R"({"createdAtEpochMillis":9223372036854775800})");
    EXPECT_EQ(top->expiresAtEpochMillis, std::numeric_limits<std::int64_t>::max());
}

TEST(ApprovalRequest, KindIsStrictButOnExpiryFallsBackToDeny) {
    EXPECT_FALSE(QuibCoder::decode<ApprovalRequest>(R"({"kind":"delete"})").ok());
    EXPECT_FALSE(QuibCoder::decode<ApprovalRequest>(R"({"kind":"Command"})").ok());
    EXPECT_EQ(QuibCoder::decode<ApprovalRequest>(R"({"kind":"network"})")->kind, ApprovalRequest::Kind::network);
    EXPECT_EQ(QuibCoder::decode<ApprovalRequest>(R"({"onExpiry":"maybe"})")->onExpiry, ApprovalDecision::deny);
    EXPECT_EQ(QuibCoder::decode<ApprovalRequest>(R"({"onExpiry":"approve"})")->onExpiry, ApprovalDecision::approve);
    EXPECT_FALSE(QuibCoder::decode<ApprovalRequest>(R"({"onExpiry":1})").ok());
    EXPECT_FALSE(QuibCoder::decode<ApprovalRequest>(R"({"createdAtEpochMillis":"now"})").ok());
}

TEST(ApprovalRequest, DetailIsCutAtFourThousandCharacters) {
    const std::string exact = repeated("a", 4000);
    EXPECT_EQ(QuibCoder::decode<ApprovalRequest>(detailJson(exact))->detail, exact);

    const auto cut = QuibCoder::decode<ApprovalRequest>(detailJson(exact + "b"))->detail;
    EXPECT_EQ(cut, exact + "\n\u2026 (truncated)");
    EXPECT_EQ(unicode::graphemeCount(cut), 4014u);

    // A family emoji is several code points but one character.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    const std::string emoji = repeated(family, 4000);
    EXPECT_EQ(QuibCoder::decode<ApprovalRequest>(detailJson(emoji))->detail, emoji);
    EXPECT_EQ(QuibCoder::decode<ApprovalRequest>(detailJson(emoji + family))->detail, emoji + "\n\u2026 (truncated)");
}

TEST(ApprovalRequest, EncodesEveryKeyAndLeavesOutAnAbsentTarget) {
    ApprovalRequest request;
    request.id = "R1";
    request.createdAtEpochMillis = 10;
    request.expiresAtEpochMillis = 20;
    const auto text = QuibCoder::encode(request);
    EXPECT_EQ(*text, R"({"id":"R1","targetName":"an agent","title":"Asking permission","detail":"","kind":"other",)"
                     R"("createdAtEpochMillis":10,"expiresAtEpochMillis":20,"onExpiry":"deny"})");
    request.targetID = "T";
    request.kind = ApprovalRequest::Kind::edit;
    request.onExpiry = ApprovalDecision::approve;
    EXPECT_EQ(QuibCoder::decode<ApprovalRequest>(*QuibCoder::encode(request)).value(), request);
}

TEST(ApprovalRequest, ExpiresAtItsExpiryAndCountsWholeSecondsLeft) {
    ApprovalRequest request;
    request.expiresAtEpochMillis = kFakeNowMillis;
    EXPECT_FALSE(request.isExpired(kFakeNowMillis - 1));
    EXPECT_TRUE(request.isExpired(kFakeNowMillis));
    EXPECT_EQ(request.secondsRemaining(kFakeNowMillis - 1999), 1);
    EXPECT_EQ(request.secondsRemaining(kFakeNowMillis - 1), 0);
    EXPECT_EQ(request.secondsRemaining(kFakeNowMillis + 5000), 0);
    // Times from a peer may span the whole range; the distance must not overflow.
    request.expiresAtEpochMillis = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(request.secondsRemaining(std::numeric_limits<std::int64_t>::min()), 18'446'744'073'709'551);
}

TEST(ApprovalRequest, MadeByAnAskerHoldsItsTimeoutWithinOneToNineHundredSeconds) {
    const auto expiryAfter = [](double timeout, std::int64_t created = 1000) {
        return ApprovalRequest::make("R", std::nullopt, "Agent", "Run", "", ApprovalRequest::Kind::command, created,
                                     timeout, ApprovalDecision::deny)
                   .expiresAtEpochMillis -
               created;
    };
    EXPECT_EQ(expiryAfter(0), 1000);
    EXPECT_EQ(expiryAfter(-5), 1000);
    EXPECT_EQ(expiryAfter(1), 1000);
    EXPECT_EQ(expiryAfter(std::numeric_limits<double>::quiet_NaN()), 1000);
    EXPECT_EQ(expiryAfter(1.5), 1500);
    EXPECT_EQ(expiryAfter(1.0009), 1000);
    EXPECT_EQ(expiryAfter(900), 900000);
    EXPECT_EQ(expiryAfter(10000), 900000);
    EXPECT_EQ(expiryAfter(std::numeric_limits<double>::infinity()), 900000);

    // A creation time near the end of the range holds the expiry at the limit instead of wrapping.
    constexpr auto last = std::numeric_limits<std::int64_t>::max();
    const auto late = ApprovalRequest::make("R", "T", "Agent", "Run", repeated("x", 4001), ApprovalRequest::Kind::edit,
                                            last - 10, 120, ApprovalDecision::approve);
    EXPECT_EQ(late.expiresAtEpochMillis, last);
    EXPECT_EQ(late.detail, repeated("x", 4000) + "\n\u2026 (truncated)");
    EXPECT_EQ(late.targetID, "T");
    EXPECT_EQ(late.onExpiry, ApprovalDecision::approve);
}

TEST(ApprovalResolution, UnknownWordsFallBackAndMissingTimeIsNow) {
    FakeApprovalClock fake;
    auto empty = QuibCoder::decode<ApprovalResolution>("{}");
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty->requestID, "");
    EXPECT_EQ(empty->decision, ApprovalDecision::deny);
    EXPECT_EQ(empty->reason, ApprovalResolution::Reason::refused);
    EXPECT_EQ(empty->atEpochMillis, kFakeNowMillis);
    EXPECT_FALSE(empty->byDeviceName || empty->note);

    auto odd = QuibCoder::decode<ApprovalResolution>(R"({"requestID":"R","decision":"defer","reason":"lost"})");
    EXPECT_EQ(odd->decision, ApprovalDecision::deny);
    EXPECT_EQ(odd->reason, ApprovalResolution::Reason::refused);
    EXPECT_FALSE(QuibCoder::decode<ApprovalResolution>(R"({"decision":true})").ok());
    EXPECT_FALSE(QuibCoder::decode<ApprovalResolution>(R"({"reason":3})").ok());
}

TEST(ApprovalResolution, RoundTripsAndLeavesOutAbsentOptionals) {
    ApprovalResolution resolution{
        "R", ApprovalDecision::approve, ApprovalResolution::Reason::answered, "Phone", 42, std::nullopt};
    const auto text = QuibCoder::encode(resolution);
    EXPECT_EQ(
        *text,
        R"({"requestID":"R","decision":"approve","reason":"answered","byDeviceName":"Phone","atEpochMillis":42})");
    EXPECT_EQ(QuibCoder::decode<ApprovalResolution>(*text).value(), resolution);
}
