#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Runtime/Published.hpp"
#include "Shared/ApprovalDecision.hpp"
#include "Shared/ApprovalLedger.hpp"
#include "Shared/ApprovalRequest.hpp"
#include "Shared/ApprovalResolution.hpp"

namespace quib {

// What the connection server, the panel and the control commands ask of the approval broker. Main
// executor only.
class ApprovalBrokerService {
public:
    virtual ~ApprovalBrokerService() = default;
    // The requests still waiting for an answer, in arrival order.
    virtual std::vector<ApprovalRequest> pending() const = 0;
    // The same list, republished after every change.
    virtual Published<std::vector<ApprovalRequest>>& pendingRequests() = 0;
    // The latest request to end (answered, expired, withdrawn or refused); none before the first.
    virtual Published<std::optional<ApprovalResolution>>& lastResolution() = 0;
    // Offers an agent's request. A duplicate changes nothing and is for the caller to answer; a
    // refusal is reported through the resolution callback.
    virtual ApprovalLedger::AddOutcome submit(const ApprovalRequest& request) = 0;
    // An answer from a phone (`by` its name, `reason` as it sent it) or from this computer (both
    // absent). An id that is not waiting is only logged.
    virtual void decide(const std::string& id, ApprovalDecision decision, const std::optional<std::string>& reason,
                        const std::optional<std::string>& by) = 0;
    // Withdraws those of the requests that still wait; others are ignored.
    virtual void withdraw(const std::set<std::string>& ids) = 0;
    // Called with every new request and with every resolution.
    virtual void setOnAdded(std::function<void(const ApprovalRequest&)> handler) = 0;
    virtual void setOnResolved(std::function<void(const ApprovalResolution&)> handler) = 0;
};

}  // namespace quib
