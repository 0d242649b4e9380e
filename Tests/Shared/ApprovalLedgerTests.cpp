#include <gtest/gtest.h>

#include "Shared/ApprovalLedger.hpp"

using namespace quib;

namespace {

using Outcome = ApprovalLedger::AddOutcome;
using Reason = ApprovalResolution::Reason;

constexpr std::int64_t now = 1'800'000'000'000;

ApprovalRequest request(const std::string& id, std::int64_t expiresAt = now + 60'000,
                        ApprovalDecision onExpiry = ApprovalDecision::deny) {
    ApprovalRequest made;
    made.id = id;
    made.createdAtEpochMillis = now;
    made.expiresAtEpochMillis = expiresAt;
    made.onExpiry = onExpiry;
    return made;
}

std::vector<std::string> ids(const ApprovalLedger& ledger) {
    std::vector<std::string> out;
    for (const auto& r : ledger.pending()) out.push_back(r.id);
    return out;
}

ApprovalLedger full() {
    ApprovalLedger ledger;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(ledger.add(request("R" + std::to_string(i)), now), Outcome::added());
    return ledger;
}

}  // namespace

// A full ledger denies whatever the request would fall back to; a repeated id is a duplicate
// before anything else is looked at.
TEST(ApprovalLedger, DuplicateWinsOverAFullLedgerAndAnExpiredRequestAndTheNinthIsDenied) {
    ApprovalLedger ledger = full();
    EXPECT_EQ(ledger.add(request("R3"), now), Outcome::duplicate());
    EXPECT_EQ(ledger.add(request("R3", now - 1), now), Outcome::duplicate());
    EXPECT_EQ(ledger.add(request("R9", now + 5, ApprovalDecision::approve), now),
              Outcome::refused({"R9", ApprovalDecision::deny, Reason::refused, std::nullopt, now,
                                "8 requests are already waiting"}));
    EXPECT_EQ(ledger.pending().size(), 8u);
}

TEST(ApprovalLedger, RequestExpiringNowIsRefusedWithItsOwnFallback) {
    ApprovalLedger ledger;
    EXPECT_EQ(ledger.add(request("R1", now, ApprovalDecision::approve), now),
              Outcome::refused({"R1", ApprovalDecision::approve, Reason::expired, std::nullopt, now,
                                "Expired before it reached the computer"}));
    EXPECT_TRUE(ledger.pending().empty());
    EXPECT_EQ(ledger.add(request("R1", now + 1), now), Outcome::added());
}

TEST(ApprovalLedger, AnswerInTimeKeepsItsDecisionAndTrimmedReasonWhileALateOneFallsBack) {
    ApprovalLedger ledger;
    ledger.add(request("R1", now + 1000, ApprovalDecision::approve), now);
    ledger.add(request("R2"), now);
    ledger.add(request("R3"), now);

    EXPECT_EQ(ledger.resolve("R1", ApprovalDecision::deny, "too late", "Pad", now + 1000),
              (ApprovalResolution{"R1", ApprovalDecision::approve, Reason::expired, "Pad", now + 1000,
                                  "The answer arrived after it expired"}));
    EXPECT_EQ(ledger.resolve("R2", ApprovalDecision::approve, " \n\t \r\n", "Pad", now),
              (ApprovalResolution{"R2", ApprovalDecision::approve, Reason::answered, "Pad", now, std::nullopt}));
    EXPECT_EQ(ledger.resolve("R3", ApprovalDecision::deny, "  looks\u00a0risky \n", std::nullopt, now)->note,
              "looks\u00a0risky");
    EXPECT_FALSE(ledger.resolve("R3", ApprovalDecision::deny, std::nullopt, std::nullopt, now));
    EXPECT_TRUE(ledger.pending().empty());
}

TEST(ApprovalLedger, ExpireAtTheExpiryAndWithdrawEndRequestsInTheirOrderAndKeepTheRest) {
    ApprovalLedger ledger;
    ledger.add(request("A", now + 20, ApprovalDecision::approve), now);
    ledger.add(request("B", now + 90), now);
    ledger.add(request("C", now + 10), now);
    ledger.add(request("D", now + 50), now);
    EXPECT_EQ(ledger.nextExpiry(), now + 10);

    EXPECT_TRUE(ledger.expire(now + 9).empty());
    const auto expired = ledger.expire(now + 20);
    ASSERT_EQ(expired.size(), 2u);
    EXPECT_EQ(expired[0], (ApprovalResolution{"A", ApprovalDecision::approve, Reason::expired, std::nullopt, now + 20,
                                              "Nobody answered in time"}));
    EXPECT_EQ(expired[1].requestID, "C");
    EXPECT_EQ(ids(ledger), (std::vector<std::string>{"B", "D"}));

    const auto withdrawn = ledger.withdraw({"D", "gone", "B"}, now + 30);
    ASSERT_EQ(withdrawn.size(), 2u);
    EXPECT_EQ(withdrawn[0], (ApprovalResolution{"B", ApprovalDecision::deny, Reason::withdrawn, std::nullopt, now + 30,
                                                "The agent that asked is gone"}));
    EXPECT_EQ(withdrawn[1].requestID, "D");
    EXPECT_TRUE(ledger.withdraw({"B"}, now + 30).empty());
    EXPECT_FALSE(ledger.nextExpiry());
    EXPECT_FALSE(ledger.request("B"));
}
