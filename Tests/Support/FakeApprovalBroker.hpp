#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Approvals/ApprovalBrokerService.hpp"
#include "Runtime/Executor.hpp"

namespace quib::testing {

// Requests the test says are waiting; remembers which were withdrawn and how this computer
// answered. A neighbour of the server for tests; its state is under a lock of its own, since the
// server calls it from the network queue and the main loop.
class FakeApprovalBroker final : public ApprovalBrokerService {
public:
    // One answer as `decide` was given it.
    struct Decision {
        std::string id;
        ApprovalDecision decision;
        std::optional<std::string> reason;
        std::optional<std::string> by;
        bool operator==(const Decision&) const = default;
    };

    explicit FakeApprovalBroker(std::shared_ptr<Executor> main)
        : published_(main, {}), resolved_(std::move(main), std::nullopt) {}

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
    Published<std::vector<ApprovalRequest>>& pendingRequests() override { return published_; }
    Published<std::optional<ApprovalResolution>>& lastResolution() override { return resolved_; }
    void decide(const std::string& id, ApprovalDecision decision, const std::optional<std::string>& reason,
                const std::optional<std::string>& by) override {
        std::lock_guard lock(mutex_);
        decided_.push_back({id, decision, reason, by});
    }
    std::vector<Decision> decided() const {
        std::lock_guard lock(mutex_);
        return decided_;
    }
    std::vector<ApprovalRequest> submitted() const {
        std::lock_guard lock(mutex_);
        return submitted_;
    }
    std::function<void(const ApprovalRequest&)> onSubmit;
    void setOnAdded(std::function<void(const ApprovalRequest&)>) override {}
    void setOnResolved(std::function<void(const ApprovalResolution&)>) override {}

    void setPending(std::vector<ApprovalRequest> requests) {
        {
            std::lock_guard lock(mutex_);
            pending_ = requests;
        }
        published_.set(std::move(requests));
    }

private:
    mutable std::mutex mutex_;
    std::vector<ApprovalRequest> pending_;
    std::vector<ApprovalRequest> submitted_;
    std::set<std::string> withdrawn_;
    std::vector<Decision> decided_;
    Published<std::vector<ApprovalRequest>> published_;
    Published<std::optional<ApprovalResolution>> resolved_;
};

}  // namespace quib::testing
