#pragma once

#include <set>
#include <string>

#include "Shared/AgentEvent.hpp"
#include "Shared/ApprovalRequest.hpp"
#include "Shared/PushRegistration.hpp"

namespace quib {

// What the connection server tells the push sender. Every operation returns at once.
class PushSenderService {
public:
    virtual ~PushSenderService() = default;
    virtual bool isConfigured() const = 0;
    // The phone is connected now: its outstanding alerts are dropped.
    virtual void deviceArrived(const std::string& deviceID) = 0;
    virtual void forget(const std::string& deviceID) = 0;
    virtual void resolved(const std::string& approvalID) = 0;
    // An approved phone's push subscription: a registration with a non-empty token replaces
    // the device's subscription, one without ends it.
    virtual void registerDevice(const PushRegistration& registration, const std::string& deviceID) = 0;
    // Alerts for phones that are not among `connected`, as each one's alert policy decides.
    virtual void send(const AgentEvent& event, const std::string& targetName,
                      const std::set<std::string>& connected) = 0;
    virtual void send(const ApprovalRequest& request, const std::set<std::string>& connected) = 0;
};

}  // namespace quib
