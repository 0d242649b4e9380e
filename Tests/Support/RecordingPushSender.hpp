#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Approvals/PushSenderService.hpp"

namespace quib::testing {

// Remembers which devices arrived and which were forgotten, and what was handed on for pushing.
// A neighbour of the server for tests; its state is under a lock of its own, since the server calls
// it from the network queue and the main loop.
class RecordingPushSender final : public PushSenderService {
public:
    bool isConfigured() const override { return false; }
    void deviceArrived(const std::string& deviceID) override { add(arrived_, deviceID); }
    void forget(const std::string& deviceID) override { add(forgotten_, deviceID); }
    void resolved(const std::string& approvalID) override { add(resolved_, approvalID); }
    void registerDevice(const PushRegistration& registration, const std::string& deviceID) override {
        add(registered_, deviceID + ":" + registration.token.value_or("-"));
    }
    // "<targetName>:<targetID>" per event; the request's id per request.
    void send(const AgentEvent& event, const std::string& targetName, const std::set<std::string>&) override {
        add(events_, targetName + ":" + event.targetID);
    }
    void send(const ApprovalRequest& request, const std::set<std::string>&) override { add(requests_, request.id); }

    std::vector<std::string> arrived() const { return copy(arrived_); }
    std::vector<std::string> forgotten() const { return copy(forgotten_); }
    std::vector<std::string> resolved() const { return copy(resolved_); }
    std::vector<std::string> registered() const { return copy(registered_); }
    std::vector<std::string> events() const { return copy(events_); }
    std::vector<std::string> requests() const { return copy(requests_); }

private:
    void add(std::vector<std::string>& list, const std::string& id) {
        std::lock_guard lock(mutex_);
        list.push_back(id);
    }
    std::vector<std::string> copy(const std::vector<std::string>& list) const {
        std::lock_guard lock(mutex_);
        return list;
    }
    mutable std::mutex mutex_;
    std::vector<std::string> arrived_;
    std::vector<std::string> forgotten_;
    std::vector<std::string> resolved_;
    std::vector<std::string> registered_;
    std::vector<std::string> events_;
    std::vector<std::string> requests_;
};

}  // namespace quib::testing
