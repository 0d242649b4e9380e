#pragma once

#include "QuibHost/Server/Neighbours/ApprovalBrokerService.hpp"

namespace quib {

// Stands in for the approval broker until it exists: nothing is ever pending, and the callbacks
// are kept but never called.
class EmptyApprovalBroker final : public ApprovalBrokerService {
public:
    std::vector<ApprovalRequest> pending() const override { return {}; }
    void withdraw(const std::set<std::string>& ids) override { withdrawn_.insert(ids.begin(), ids.end()); }
    void setOnAdded(std::function<void(const ApprovalRequest&)> handler) override { onAdded_ = std::move(handler); }
    void setOnResolved(std::function<void(const ApprovalResolution&)> handler) override { onResolved_ = std::move(handler); }

    // Every identifier ever withdrawn.
    const std::set<std::string>& withdrawn() const { return withdrawn_; }

private:
    std::set<std::string> withdrawn_;
    std::function<void(const ApprovalRequest&)> onAdded_;
    std::function<void(const ApprovalResolution&)> onResolved_;
};

}  // namespace quib
