#include <gtest/gtest.h>

#include <limits>

#include "QuibHost/Approvals/ApprovalBroker.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Shared/ApprovalClock.hpp"
#include "Shared/QuibCoder.hpp"

using namespace std::chrono_literals;

namespace quib::testing {

using Reason = ApprovalResolution::Reason;
using Kind = ApprovalLedger::AddOutcome::Kind;

// The suite ApprovalBroker: a broker on a main loop whose clock, and the approval clock, are one
// fake clock; what it publishes, announces and logs is kept.
class ApprovalBroker : public ::testing::Test {
protected:
    void SetUp() override {
        previousSink = Logger::setSink(log);
        ApprovalClock::use(clock);
        broker->setOnAdded([this](const ApprovalRequest& request) { added.push_back(request.id); });
        broker->setOnResolved([this](const ApprovalResolution& resolution) { resolved.push_back(resolution); });
        subscription =
            broker->pendingRequests().subscribe([this](const auto&) { ++publications; }, {.skipCurrent = true});
    }
    void TearDown() override {
        ApprovalClock::use(nullptr);
        Logger::setSink(previousSink);
    }

    std::int64_t now() const { return ApprovalClock::now(); }

    ApprovalRequest request(const std::string& id, std::chrono::milliseconds timeout,
                            ApprovalDecision onExpiry = ApprovalDecision::deny) {
        return ApprovalRequest::make(id, std::nullopt, "Agent", "Run " + id, "", ApprovalRequest::Kind::command, now(),
                                     std::chrono::duration<double>(timeout).count(), onExpiry);
    }

    // Moves time on and runs what became due on the main loop.
    void advance(Duration by) {
        clock->advance(by);
        main->runPending();
    }

    // Whether a sweep still runs: one republishes the list whenever it fires, and none is ever
    // more than 900.05 s away.
    bool sweepsLater() {
        const int before = publications;
        advance(quib::ApprovalBroker::longestSweepWait);
        return publications != before;
    }

    std::vector<std::string> pendingIDs() const {
        std::vector<std::string> ids;
        for (const auto& r : broker->pending()) ids.push_back(r.id);
        return ids;
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    std::shared_ptr<quib::ApprovalBroker> broker = quib::ApprovalBroker::create(main);
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previousSink;
    Subscription subscription;
    std::vector<std::string> added;
    std::vector<ApprovalResolution> resolved;
    int publications = 0;
};

// Everything the broker does runs on the main loop; tests call it from there.
#define ON_MAIN(...)                      \
    [&] {                                 \
        main->post([&] { __VA_ARGS__; }); \
        main->runPending();               \
    }()

TEST_F(ApprovalBroker, SubmittingTwiceAddsOnceAndTheRepeatCallsNothing) {
    Kind first{}, second{};
    ON_MAIN(first = broker->submit(request("R1", 60s)).kind);
    ON_MAIN(second = broker->submit(request("R1", 60s)).kind);
    EXPECT_EQ(first, Kind::added);
    EXPECT_EQ(second, Kind::duplicate);
    EXPECT_EQ(added, std::vector<std::string>{"R1"});
    EXPECT_EQ(publications, 1);
    EXPECT_TRUE(resolved.empty());
    EXPECT_TRUE(log->contains("approval asked: Agent \u2014 Run R1"));
}

TEST_F(ApprovalBroker, RefusalAtSubmissionIsReportedAtOnceWithoutPublishingOrSweeping) {
    for (int i = 0; i < 8; ++i) ON_MAIN(broker->submit(request("R" + std::to_string(i), 60s)));
    publications = 0;
    ON_MAIN(broker->submit(request("R9", 60s, ApprovalDecision::approve)));
    ASSERT_EQ(resolved.size(), 1u);
    EXPECT_EQ(resolved[0].decision, ApprovalDecision::deny);
    EXPECT_EQ(resolved[0].reason, Reason::refused);
    EXPECT_EQ(resolved[0].note, "8 requests are already waiting");
    EXPECT_EQ(publications, 0);
    EXPECT_TRUE(log->contains("approval refused: 8 requests are already waiting"));
}

// The sweep runs 50 ms after the expiry, empties the list at that moment and leaves no timer.
TEST_F(ApprovalBroker, ExpiryIsReportedFiftyMillisecondsAfterItAndNoSweepStaysScheduled) {
    ON_MAIN(broker->submit(request("R1", 1500ms, ApprovalDecision::approve)));
    advance(1549ms);
    EXPECT_TRUE(resolved.empty());
    EXPECT_EQ(pendingIDs(), std::vector<std::string>{"R1"});
    advance(1ms);
    ASSERT_EQ(resolved.size(), 1u);
    EXPECT_EQ(resolved[0], (ApprovalResolution{"R1", ApprovalDecision::approve, Reason::expired, std::nullopt, now(),
                                               "Nobody answered in time"}));
    EXPECT_TRUE(pendingIDs().empty());
    EXPECT_TRUE(log->contains("approval expired: R1 \u2192 approve"));
    EXPECT_FALSE(sweepsLater());
}

TEST_F(ApprovalBroker, TwoRequestsExpiringTenMillisecondsApartEndInOneSweepInArrivalOrder) {
    ON_MAIN(broker->submit(request("R1", 2000ms)));
    advance(10ms);
    ON_MAIN(broker->submit(request("R2", 2000ms)));
    publications = 0;
    advance(2040ms);
    ASSERT_EQ(resolved.size(), 2u);
    EXPECT_EQ(resolved[0].requestID, "R1");
    EXPECT_EQ(resolved[1].requestID, "R2");
    EXPECT_EQ(publications, 1);
    EXPECT_FALSE(sweepsLater());
}

// An answer from this computer names no device; the log says who answered.
TEST_F(ApprovalBroker, DecisionsFromAPhoneOrTheMacAreLoggedAndReported) {
    ON_MAIN(broker->submit(request("R1", 60s)));
    ON_MAIN(broker->submit(request("R2", 60s)));
    ON_MAIN(broker->decide("R1", ApprovalDecision::approve, std::nullopt, std::nullopt));
    ON_MAIN(broker->decide("R2", ApprovalDecision::deny, "  no \n", "Pad"));
    ON_MAIN(broker->decide("R2", ApprovalDecision::deny, std::nullopt, "Pad"));
    ASSERT_EQ(resolved.size(), 2u);
    EXPECT_FALSE(resolved[0].byDeviceName);
    EXPECT_EQ(resolved[0].reason, Reason::answered);
    EXPECT_EQ(resolved[1].byDeviceName, "Pad");
    EXPECT_EQ(resolved[1].note, "no");
    EXPECT_TRUE(log->contains("approval approve by the computer"));
    EXPECT_TRUE(log->contains("approval deny by Pad"));
    EXPECT_TRUE(log->contains("approval R2: decision arrived for nothing pending"));
    EXPECT_FALSE(sweepsLater());
}

TEST_F(ApprovalBroker, WithdrawingWhatDoesNotWaitChangesNothingAndWithdrawingTheRestReportsEach) {
    ON_MAIN(broker->submit(request("R1", 60s)));
    ON_MAIN(broker->submit(request("R2", 30s)));
    publications = 0;
    ON_MAIN(broker->withdraw({"gone", "never"}));
    EXPECT_EQ(publications, 0);
    EXPECT_TRUE(resolved.empty());
    ON_MAIN(broker->withdraw({"R2", "R1"}));
    ASSERT_EQ(resolved.size(), 2u);
    EXPECT_EQ(resolved[0].requestID, "R1");
    EXPECT_EQ(resolved[0].reason, Reason::withdrawn);
    EXPECT_EQ(publications, 1);
    EXPECT_FALSE(sweepsLater());
}

// An asker's expiry may lie near the end of time: the sweep still comes within 900.05 s, finds
// nothing, and waits as long again, instead of firing over and over.
TEST_F(ApprovalBroker, SweepOfAFarExpiryComesWithinNineHundredSecondsAndDoesNotLoop) {
    constexpr auto last = std::numeric_limits<std::int64_t>::max();
    ApprovalRequest far = request("R1", 60s);
    far.expiresAtEpochMillis = last - 1;
    ON_MAIN(broker->submit(far));
    publications = 0;
    advance(900049ms);
    EXPECT_EQ(publications, 0);
    advance(1ms);
    EXPECT_EQ(publications, 1);
    advance(900049ms);
    EXPECT_EQ(publications, 1);
    advance(1ms);
    EXPECT_EQ(publications, 2);
    EXPECT_EQ(pendingIDs(), std::vector<std::string>{"R1"});
}

// A creation time at the end of the range, sent without an expiry, gets the expiry held at the
// limit: it waits, is swept without ending, and is answered, with no arithmetic overflowing.
TEST_F(ApprovalBroker, RequestCreatedAtTheEndOfTimeIsHeldSweptAndAnswered) {
    const std::string json = R"({"id":"R1","createdAtEpochMillis":9223372036854775797})";
    const auto decoded = QuibCoder::decode<ApprovalRequest>(json);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded->expiresAtEpochMillis, std::numeric_limits<std::int64_t>::max());
    ON_MAIN(broker->submit(*decoded));
    advance(quib::ApprovalBroker::longestSweepWait);
    EXPECT_EQ(pendingIDs(), std::vector<std::string>{"R1"});
    EXPECT_GT(broker->pending()[0].secondsRemaining(now()), 0);
    ON_MAIN(broker->decide("R1", ApprovalDecision::approve, std::nullopt, std::nullopt));
    ASSERT_EQ(resolved.size(), 1u);
    EXPECT_EQ(resolved[0].reason, Reason::answered);
    EXPECT_TRUE(pendingIDs().empty());
    EXPECT_FALSE(sweepsLater());
}

}  // namespace quib::testing
