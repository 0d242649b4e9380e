#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Approvals/ApprovalBrokerService.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Published.hpp"
#include "Shared/ApprovalLedger.hpp"

namespace quib {

// The host's one holder of the agents' approval requests that wait for an answer. It wraps one
// ledger, stamps each operation with the approval clock (read once an operation), publishes the
// waiting list, expires requests with one self-rescheduling sweep, and reports each new request
// and each outcome through its two callbacks.
//
// Main executor only: operations, callbacks and the sweep all run there. The sweep is a timer
// of the executor, so a fake clock moves it.
class ApprovalBroker final : public ApprovalBrokerService, public std::enable_shared_from_this<ApprovalBroker> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // The sweep runs this long after the earliest expiry.
    static constexpr std::chrono::milliseconds sweepGrace{50};
    // However far away the earliest expiry lies, the next sweep is never further than this: a
    // request's expiry comes from its asker and may lie near the end of time.
    static constexpr std::chrono::milliseconds longestSweepWait =
        std::chrono::seconds(ApprovalRequest::maxTimeoutSeconds) + sweepGrace;

    static std::shared_ptr<ApprovalBroker> create(std::shared_ptr<Executor> main);
    ApprovalBroker(Passkey, std::shared_ptr<Executor> main);
    ~ApprovalBroker() override;
    ApprovalBroker(const ApprovalBroker&) = delete;
    ApprovalBroker& operator=(const ApprovalBroker&) = delete;

    // The waiting requests, republished after every change through the broker.
    Published<std::vector<ApprovalRequest>>& pendingRequests() override { return pending_; }
    Published<std::optional<ApprovalResolution>>& lastResolution() override { return resolved_; }

    std::vector<ApprovalRequest> pending() const override { return pending_.value(); }
    ApprovalLedger::AddOutcome submit(const ApprovalRequest& request) override;
    void decide(const std::string& id, ApprovalDecision decision, const std::optional<std::string>& reason,
                const std::optional<std::string>& by) override;
    void withdraw(const std::set<std::string>& ids) override;
    void setOnAdded(std::function<void(const ApprovalRequest&)> handler) override { onAdded_ = std::move(handler); }
    void setOnResolved(std::function<void(const ApprovalResolution&)> handler) override {
        onResolved_ = std::move(handler);
    }

private:
    void publish();
    void scheduleSweep(std::int64_t now);
    void runSweep();
    void report(const ApprovalResolution& resolution);

    std::shared_ptr<Executor> main_;
    Published<std::vector<ApprovalRequest>> pending_;
    Published<std::optional<ApprovalResolution>> resolved_;
    std::function<void(const ApprovalRequest&)> onAdded_;
    std::function<void(const ApprovalResolution&)> onResolved_;
    ApprovalLedger ledger_;
    Cancellable sweep_;
};

}  // namespace quib
