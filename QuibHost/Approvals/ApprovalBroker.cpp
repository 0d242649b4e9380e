#include "QuibHost/Approvals/ApprovalBroker.hpp"

#include <algorithm>

#include "Runtime/AssertOn.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/ApprovalClock.hpp"
#include "Shared/EpochMillis.hpp"

namespace quib {

std::shared_ptr<ApprovalBroker> ApprovalBroker::create(std::shared_ptr<Executor> main) {
    return std::make_shared<ApprovalBroker>(Passkey{}, std::move(main));
}

ApprovalBroker::ApprovalBroker(Passkey, std::shared_ptr<Executor> main)
    : main_(main), pending_(main, {}), resolved_(std::move(main), std::nullopt) {}

ApprovalBroker::~ApprovalBroker() { sweep_.cancel(); }

ApprovalLedger::AddOutcome ApprovalBroker::submit(const ApprovalRequest& request) {
    assertOn(*main_);
    const std::int64_t now = ApprovalClock::now();
    auto outcome = ledger_.add(request, now);
    switch (outcome.kind) {
        case ApprovalLedger::AddOutcome::Kind::added:
            publish();
            scheduleSweep(now);
            if (onAdded_) onAdded_(request);
            quibLog().info("approval asked: ", pub(request.targetName), " \u2014 ", pub(request.title));
            break;
        case ApprovalLedger::AddOutcome::Kind::refused:
            quibLog().error("approval refused: ", pub(outcome.resolution->note.value_or("")));
            report(*outcome.resolution);
            break;
        case ApprovalLedger::AddOutcome::Kind::duplicate: break;
    }
    return outcome;
}

void ApprovalBroker::decide(const std::string& id, ApprovalDecision decision, const std::optional<std::string>& reason,
                            const std::optional<std::string>& by) {
    assertOn(*main_);
    const std::int64_t now = ApprovalClock::now();
    auto resolution = ledger_.resolve(id, decision, reason, by, now);
    if (!resolution) {
        quibLog().info("approval ", pub(id), ": decision arrived for nothing pending");
        return;
    }
    publish();
    scheduleSweep(now);
    quibLog().info("approval ", pub(enumName(resolution->decision)), " by ",
                   pub(by.value_or(HostWords::theComputer.str())));
    report(*resolution);
}

void ApprovalBroker::withdraw(const std::set<std::string>& ids) {
    assertOn(*main_);
    const std::int64_t now = ApprovalClock::now();
    const auto resolutions = ledger_.withdraw(ids, now);
    if (resolutions.empty()) return;
    publish();
    scheduleSweep(now);
    for (const auto& resolution : resolutions) report(resolution);
}

void ApprovalBroker::publish() { pending_.set(ledger_.pending()); }

void ApprovalBroker::report(const ApprovalResolution& resolution) {
    resolved_.set(resolution);
    if (onResolved_) onResolved_(resolution);
}

// One sweep at a time, 50 ms after the earliest expiry (50 ms from now when that has passed),
// and none while nothing waits.
void ApprovalBroker::scheduleSweep(std::int64_t now) {
    sweep_.cancel();
    sweep_ = Cancellable();
    const auto next = ledger_.nextExpiry();
    if (!next) return;
    const std::int64_t untilExpiry =
        std::clamp<std::int64_t>(saturatingSubtract(*next, now), 0, (longestSweepWait - sweepGrace).count());
    const auto wait = std::chrono::milliseconds(untilExpiry) + sweepGrace;
    sweep_ = main_->postAfter(wait, [weak = weak_from_this()] {
        if (auto broker = weak.lock()) broker->runSweep();
    });
}

// The list is republished and the next sweep scheduled even when nothing expired: the clock
// may have moved.
void ApprovalBroker::runSweep() {
    assertOn(*main_);
    const std::int64_t now = ApprovalClock::now();
    const auto resolutions = ledger_.expire(now);
    publish();
    scheduleSweep(now);
    for (const auto& resolution : resolutions) {
        quibLog().info("approval expired: ", pub(resolution.requestID), " \u2192 ", pub(enumName(resolution.decision)));
        report(resolution);
    }
}

}  // namespace quib
