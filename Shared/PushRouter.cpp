#include "Shared/PushRouter.hpp"

#include <utility>

#include "Shared/EpochMillis.hpp"

namespace quib {

void PushRouter::registerDevice(const PushRegistration& registration, const std::string& deviceID) {
    if (!registration.token || registration.token->empty()) {
        subscribers_.erase(deviceID);
        return;
    }
    // A new registration starts the phone's policy afresh; nothing is withdrawn for the old one.
    subscribers_.insert_or_assign(
        deviceID, Subscriber{*registration.token, registration.usesSandbox, AlertPolicy(registration.settings)});
}

void PushRouter::forget(const std::string& deviceID) { subscribers_.erase(deviceID); }

template <class Decide>
std::vector<PushDelivery> PushRouter::deliveries(const std::set<std::string>& connected,
                                                 std::int64_t expiresAtEpochMillis, Decide decide) {
    std::vector<PushDelivery> out;
    // The map is ordered by device id, so the deliveries come out in ascending device order.
    for (auto& [deviceID, subscriber] : subscribers_) {
        if (connected.contains(deviceID)) continue;
        // The policy remembers what it saw even when it posts nothing.
        AlertOutcome outcome = decide(subscriber.policy);
        if (!outcome.post) continue;
        std::string collapseID = outcome.post->id;
        out.push_back(PushDelivery{deviceID, subscriber.token, subscriber.usesSandbox, std::move(*outcome.post),
                                   std::move(collapseID), expiresAtEpochMillis});
    }
    return out;
}

std::vector<PushDelivery> PushRouter::route(const AgentEvent& event, std::string_view targetName,
                                            const std::set<std::string>& connected, std::int64_t now) {
    return deliveries(connected, saturatingAdd(now, reportLifetime.count()),
                      [&](AlertPolicy& policy) { return policy.receive(event, targetName, false, now); });
}

std::vector<PushDelivery> PushRouter::route(const ApprovalRequest& request, const std::set<std::string>& connected,
                                            std::int64_t now) {
    return deliveries(connected, request.expiresAtEpochMillis,
                      [&](AlertPolicy& policy) { return policy.receive(request, false, now); });
}

void PushRouter::deviceArrived(const std::string& deviceID) {
    if (const auto found = subscribers_.find(deviceID); found != subscribers_.end()) found->second.policy.opened();
}

void PushRouter::resolved(std::string_view approvalID) {
    for (auto& [deviceID, subscriber] : subscribers_) subscriber.policy.resolved(approvalID);
}

std::int64_t PushRouter::outstanding(const std::string& deviceID) const {
    const auto found = subscribers_.find(deviceID);
    return found == subscribers_.end() ? 0 : found->second.policy.badge();
}

bool PushRouter::isSubscribed(const std::string& deviceID) const { return subscribers_.contains(deviceID); }

std::set<std::string> PushRouter::subscribedDeviceIDs() const {
    std::set<std::string> ids;
    for (const auto& entry : subscribers_) ids.insert(entry.first);
    return ids;
}

std::optional<std::string> PushRouter::token(const std::string& deviceID) const {
    const auto found = subscribers_.find(deviceID);
    if (found == subscribers_.end()) return std::nullopt;
    return found->second.token;
}

}  // namespace quib
