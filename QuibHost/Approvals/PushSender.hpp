#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/HttpPoster.hpp"
#include "QuibHost/Approvals/PushSenderService.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"
#include "Shared/AgentEvent.hpp"
#include "Shared/ApprovalRequest.hpp"
#include "Shared/Json.hpp"
#include "Shared/PushDelivery.hpp"
#include "Shared/PushRegistration.hpp"
#include "Shared/PushRouter.hpp"
#include "Shared/SecretStore.hpp"

namespace quib {

// The host's one client of the push relay, an HTTP endpoint the user sets. It owns the push
// router, routes every agent event and new approval request through it, seals each resulting
// alert with its phone's away key and posts one request per phone to the relay. The relay's
// answers forget phones whose token the push service no longer takes, and the last failure is
// kept for the panel's summary. Withdrawals are never sent: only new alerts are pushed.
//
// Every operation but `isConfigured` returns at once and does its work on the push queue, in
// call order; the router and the last failure are touched there only. Neither the queue's tasks
// nor the relay's answers keep the sender alive: it ends on its owner's thread, having run what
// was queued and joined its queue, and answers arriving later are dropped.
class PushSender final : public PushSenderService {
    // Only the class's own factory can make this key, so construction goes through it.
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // The relay's URL and its optional bearer secret: read at each use, never written, never logged.
    static constexpr auto relayKey = setting<"quib.push.relay">;
    static constexpr auto secretKey = setting<"quib.push.secret">;
    static constexpr std::string_view eventCategory = "quib.agent.event";
    static constexpr std::string_view approvalCategory = "quib.agent.approval";
    // Each phone has at most this many requests at the relay; up to `waitingPerPhone` more wait
    // behind them, a newer alert replacing a waiting one of the same collapse identifier and,
    // past that, the oldest waiting one being dropped.
    static constexpr std::size_t postingPerPhone = 2;
    static constexpr std::size_t waitingPerPhone = 16;

    struct Config {
        std::shared_ptr<Settings> settings;
        SecretStore secrets;  // the phones' away keys seal their alerts
        // None: no relay can be posted to, so pushing stays off.
        std::shared_ptr<HttpPoster> poster;
        std::shared_ptr<Clock> clock;    // wall time of routing
        std::shared_ptr<Executor> main;  // where the summary is handed over
    };

    // What the push queue holds at one moment (tests and the panel).
    struct Snapshot {
        std::set<std::string> subscribedDeviceIDs;
        std::optional<std::string> lastFailure;
    };

    static std::shared_ptr<PushSender> create(Config config);
    PushSender(Passkey, Config config);
    ~PushSender() override;
    PushSender(const PushSender&) = delete;
    PushSender& operator=(const PushSender&) = delete;

    // True when the relay setting holds an http or https URL the poster can send to. Reads the
    // settings on the caller's thread without touching the push queue.
    bool isConfigured() const override;
    // A registration with a non-empty token replaces the phone's subscription; one without
    // ends it.
    void registerDevice(const PushRegistration& registration, const std::string& deviceID) override;
    // Alerts for the subscribed phones that are not among `connected`, as their policies decide.
    void send(const AgentEvent& event, const std::string& targetName, const std::set<std::string>& connected) override;
    void send(const ApprovalRequest& request, const std::set<std::string>& connected) override;
    void deviceArrived(const std::string& deviceID) override;
    void resolved(const std::string& approvalID) override;
    void forget(const std::string& deviceID) override;
    // The panel's status line, handed to `completion` on the main executor: "Not set up", "No
    // phones registered", the last failure, "1 phone" or "N phones".
    void summary(std::function<void(std::string)> completion);

    // Waits for the work queued so far, then reads the state. Not from the push queue.
    Snapshot inspect();

private:
    void onQueue(std::function<void(PushSender&)> work);
    std::int64_t nowMillis() const;
    std::optional<std::string> relay() const;
    void noteIgnored(const std::string& relay) const;
    std::string summaryText() const;
    void deliver(const std::vector<PushDelivery>& deliveries, std::string_view category);
    void post(const std::string& relay, const PushDelivery& delivery, Json payload);
    HttpRequest request(const std::string& relay, std::string body) const;
    void absorb(const HttpResponse& response, const std::string& deviceID, const std::string& token);

    // One request for a phone, ready for the relay.
    struct Outgoing {
        std::string collapseID;
        std::string token;
        HttpRequest request;
    };
    struct PhonePosts {
        std::size_t posting = 0;
        std::deque<Outgoing> waiting;
    };
    void enqueue(const std::string& deviceID, Outgoing outgoing);
    void start(const std::string& deviceID, Outgoing outgoing);
    void finished(const std::string& deviceID);

    // Where the poster's completions find the sender, until it goes.
    struct Inbox {
        Mutex mutex;
        PushSender* sender GUARDED_BY(mutex) = nullptr;
    };

    Config config_;
    std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
    std::map<std::string, PhonePosts> posts_;  // push queue only
    PushRouter router_;                        // push queue only
    std::optional<std::string> lastFailure_;   // push queue only
    mutable Mutex ignoredMutex_;
    // The last relay setting logged as ignored.
    mutable std::optional<std::string> ignoredRelay_ GUARDED_BY(ignoredMutex_);
    SerialQueue queue_;  // last: destroyed first, running what is queued
};

}  // namespace quib
