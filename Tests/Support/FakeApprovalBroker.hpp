#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Approvals/ApprovalBrokerService.hpp"

namespace quib::testing {

// Requests the test says are waiting; remembers which were withdrawn.
// A neighbour of the server for tests; its state is under a lock of its own, since the server calls
// it from the network queue and the main loop.
class FakeApprovalBroker final : public ApprovalBrokerService {
public:
    std::vector<ApprovalRequest> pending() const override {
        std::lock_guard lock(mutex_);
        return pending_;
    }
    void withdraw(const std::set<std::string>& ids) override {
        std::lock_guard lock(mutex_);
        withdrawn_.insert(ids.begin(), ids.end());
    }
    std::set<std::string> withdrawn() const {
        std::lock_guard lock(mutex_);
        return withdrawn_;
    }
    // Calls `onSubmit` first, then answers `added`.
    ApprovalLedger::AddOutcome submit(const ApprovalRequest& request) override {
        if (onSubmit) onSubmit(request);
        std::lock_guard lock(mutex_);
        submitted_.push_back(request);
        return ApprovalLedger::AddOutcome::added();
    }
    void decide(const std::string&, ApprovalDecision, const std::optional<std::string>&,
                const std::optional<std::string>&) override {}
    std::vector<ApprovalRequest> submitted() const {
        std::lock_guard lock(mutex_);
        return submitted_;
    }
    std::function<void(const ApprovalRequest&)> onSubmit;
    void setOnAdded(std::function<void(const ApprovalRequest&)>) override {}
    void setOnResolved(std::function<void(const ApprovalResolution&)>) override {}

    void setPending(std::vector<ApprovalRequest> requests) {
        std::lock_guard lock(mutex_);
        pending_ = std::move(requests);
    }

private:
    mutable std::mutex mutex_;
    std::vector<ApprovalRequest> pending_;
    std::vector<ApprovalRequest> submitted_;
    std::set<std::string> withdrawn_;
};

}  // namespace quib::testing
