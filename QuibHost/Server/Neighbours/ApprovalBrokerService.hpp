#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "Shared/ApprovalRequest.hpp"
#include "Shared/ApprovalResolution.hpp"

namespace quib {

// What the connection server asks of the approval broker. Main executor only.
class ApprovalBrokerService {
public:
    virtual ~ApprovalBrokerService() = default;
    // The requests still waiting for an answer.
    virtual std::vector<ApprovalRequest> pending() const = 0;
    // Withdraws those of the requests that still wait; others are ignored.
    virtual void withdraw(const std::set<std::string>& ids) = 0;
    // Called with every new request and with every resolution.
    virtual void setOnAdded(std::function<void(const ApprovalRequest&)> handler) = 0;
    virtual void setOnResolved(std::function<void(const ApprovalResolution&)> handler) = 0;
};

}  // namespace quib
