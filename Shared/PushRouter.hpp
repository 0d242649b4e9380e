#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Shared/AgentEvent.hpp"
#include "Shared/AlertPolicy.hpp"
#include "Shared/ApprovalRequest.hpp"
#include "Shared/PushDelivery.hpp"
#include "Shared/PushRegistration.hpp"

namespace quib {

// The phones that asked for pushed alerts, each with its device token, push environment and
// its own alert policy. Turns each agent event and each new approval request into the pushes
// to send: one per subscribed phone that is not connected and whose policy posts an alert.
//
// A plain value: no clock, threads or I/O; "now" is passed in as epoch milliseconds. Nothing is
// stored: a phone registers again when it connects.
class PushRouter {
public:
    // How long an event's push stays deliverable.
    static constexpr std::chrono::milliseconds reportLifetime{3'600'000};

    // Subscribes the phone, replacing its subscription and policy whole; a registration without
    // a token, or with an empty one, unsubscribes it.
    void registerDevice(const PushRegistration& registration, const std::string& deviceID);
    // Drops the phone's subscription, if any.
    void forget(const std::string& deviceID);

    // The pushes for one agent event. `targetName` is the target's display name; `connected`
    // holds the phones with a control connection open, which see the event themselves.
    std::vector<PushDelivery> route(const AgentEvent& event, std::string_view targetName,
                                    const std::set<std::string>& connected, std::int64_t now);
    // The pushes for one new approval request; they expire with the request.
    std::vector<PushDelivery> route(const ApprovalRequest& request, const std::set<std::string>& connected,
                                    std::int64_t now);

    // The phone connected and sees everything itself: its outstanding alerts are forgotten.
    void deviceArrived(const std::string& deviceID);
    // The request ended: its alert is forgotten on every phone.
    void resolved(std::string_view approvalID);

    // Alerts outstanding for the phone; 0 when it is not subscribed.
    std::int64_t outstanding(const std::string& deviceID) const;
    bool isSubscribed(const std::string& deviceID) const;
    std::set<std::string> subscribedDeviceIDs() const;
    // The phone's device token, or nothing when it is not subscribed.
    std::optional<std::string> token(const std::string& deviceID) const;

private:
    struct Subscriber {
        std::string token;  // never empty
        bool usesSandbox = false;
        AlertPolicy policy;
    };

    // One delivery per unconnected subscriber whose policy posts, in ascending device order.
    // `decide` runs one phone's policy; phones in `connected` never reach it.
    template <class Decide>
    std::vector<PushDelivery> deliveries(const std::set<std::string>& connected, std::int64_t expiresAtEpochMillis,
                                         Decide decide);

    std::map<std::string, Subscriber> subscribers_;  // by device id
};

}  // namespace quib
