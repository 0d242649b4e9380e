#include "QuibHost/Approvals/PushSender.hpp"

#include <algorithm>

#include "Runtime/AssertOn.hpp"
#include "Runtime/BoundedJson.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/PushEnvelope.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {
namespace {

// The "reason" string of an answer whose body is a JSON object holding one.
std::optional<std::string> reasonIn(const std::string& body) {
    if (body.empty()) return std::nullopt;
    MutexLock guard(QuibCoder::lock());
    const auto json = BoundedJson::parse(body);
    if (!json || !json->is_object()) return std::nullopt;
    const auto reason = json->find("reason");
    if (reason == json->end() || !reason->is_string()) return std::nullopt;
    return reason->get<std::string>();
}

bool contains(const std::optional<std::string>& text, std::string_view part) {
    return text && text->find(part) != std::string::npos;
}

// A secret pasted with its line break would end the header early; it never holds one.
std::string withoutLineBreaks(std::string text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}

}  // namespace

std::shared_ptr<PushSender> PushSender::create(Config config) {
    return std::make_shared<PushSender>(Passkey{}, std::move(config));
}

PushSender::PushSender(Passkey, Config config)
    : config_(std::move(config)), queue_("com.brenmoor.quib.push", config_.clock) {
    inbox_->sender = this;
}

// The queue goes first (it is the last member): it runs what is queued, whose tasks may still
// use every other member, and is joined here, on the owner's thread.
PushSender::~PushSender() {
    MutexLock guard(inbox_->mutex);
    inbox_->sender = nullptr;
}

bool PushSender::isConfigured() const { return relay().has_value(); }

std::optional<std::string> PushSender::relay() const {
    auto relay = config_.settings->get(relayKey);
    if (!relay || !config_.poster) return std::nullopt;
    if (!config_.poster->accepts(*relay)) {
        noteIgnored(*relay);
        return std::nullopt;
    }
    return relay;
}

// Once for each value that is set: the relay is read for every status a phone is sent.
void PushSender::noteIgnored(const std::string& relay) const {
    MutexLock lock(ignoredMutex_);
    if (ignoredRelay_ == relay) return;
    ignoredRelay_ = relay;
    quibLog().warning(pub(relayKey.row().ignoredLine(relay)));
}

// The queue lives no longer than the sender, so its tasks may hold the sender itself. A task that
// held a reference instead could drop the last one on the queue's own thread, leaving that thread
// to end alone, perhaps after the process has begun to exit.
void PushSender::onQueue(std::function<void(PushSender&)> work) {
    queue_.post([this, work = std::move(work)] { work(*this); });
}

std::int64_t PushSender::nowMillis() const {
    return std::chrono::round<std::chrono::milliseconds>(config_.clock->wallNow().time_since_epoch()).count();
}

void PushSender::registerDevice(const PushRegistration& registration, const std::string& deviceID) {
    onQueue([registration, deviceID](PushSender& self) {
        self.router_.registerDevice(registration, deviceID);
        const bool registered = registration.token && !registration.token->empty();
        quibLog().info("push: ", registered ? "registered" : "stopped", " for ", priv(deviceID));
    });
}

void PushSender::send(const AgentEvent& event, const std::string& targetName, const std::set<std::string>& connected) {
    onQueue([event, targetName, connected](PushSender& self) {
        self.deliver(self.router_.route(event, targetName, connected, self.nowMillis()), eventCategory);
    });
}

void PushSender::send(const ApprovalRequest& request, const std::set<std::string>& connected) {
    onQueue([request, connected](PushSender& self) {
        self.deliver(self.router_.route(request, connected, self.nowMillis()), approvalCategory);
    });
}

void PushSender::deviceArrived(const std::string& deviceID) {
    onQueue([deviceID](PushSender& self) { self.router_.deviceArrived(deviceID); });
}

void PushSender::resolved(const std::string& approvalID) {
    onQueue([approvalID](PushSender& self) { self.router_.resolved(approvalID); });
}

void PushSender::forget(const std::string& deviceID) {
    onQueue([deviceID](PushSender& self) {
        self.router_.forget(deviceID);
        if (auto found = self.posts_.find(deviceID); found != self.posts_.end()) found->second.waiting.clear();
    });
}

void PushSender::summary(std::function<void(std::string)> completion) {
    onQueue([completion = std::move(completion)](PushSender& self) {
        self.config_.main->post([completion, text = self.summaryText()] { completion(text); });
    });
}

std::string PushSender::summaryText() const {
    if (!relay()) return "Not set up";
    const auto phones = router_.subscribedDeviceIDs().size();
    if (phones == 0) return "No phones registered";
    if (lastFailure_) return *lastFailure_;
    return phones == 1 ? "1 phone" : std::to_string(phones) + " phones";
}

PushSender::Snapshot PushSender::inspect() {
    Snapshot snapshot;
    (void)queue_.sync([&] { snapshot = {router_.subscribedDeviceIDs(), lastFailure_}; });
    return snapshot;
}

// Without a relay the router has still seen the events, so they stay duplicates once one is set.
void PushSender::deliver(const std::vector<PushDelivery>& deliveries, std::string_view category) {
    assertOn(queue_);
    if (deliveries.empty()) return;
    const auto relayURL = relay();
    if (!relayURL) return;
    for (const auto& delivery : deliveries) {
        const auto key = config_.secrets.read(SecretStore::awayService, delivery.deviceID);
        if (!key || key->size() != PushEnvelope::keyLength) {
            quibLog().error("push: no key for ", priv(delivery.deviceID), " — not sending");
            continue;
        }
        const auto sealed = PushEnvelope::seal(delivery.alert, *key);
        if (!sealed) continue;
        const auto& alert = delivery.alert;
        post(*relayURL, delivery,
             PushEnvelope::payload(*sealed, category, alert.isTimeSensitive, alert.isSilent, alert.threadID,
                                   alert.relevance));
    }
}

// One request per phone; the next starts without waiting for this one's answer.
void PushSender::post(const std::string& relay, const PushDelivery& delivery, Json payload) {
    Json body = Json::object();
    body["token"] = delivery.token;
    body["sandbox"] = delivery.usesSandbox;
    body["collapseId"] = delivery.collapseID;
    body["expiration"] = delivery.expiresAtEpochMillis / 1000;  // epoch seconds, truncated toward zero
    body["payload"] = std::move(payload);
    std::string text;
    try {
        MutexLock guard(QuibCoder::lock());
        text = body.dump();
    } catch (const Json::exception&) {
        return;
    }
    enqueue(delivery.deviceID, Outgoing{delivery.collapseID, delivery.token, request(relay, std::move(text))});
}

// A phone's requests never pile up: an agent's burst once held a connection per request.
void PushSender::enqueue(const std::string& deviceID, Outgoing outgoing) {
    assertOn(queue_);
    PhonePosts& phone = posts_[deviceID];
    if (phone.posting < postingPerPhone) return start(deviceID, std::move(outgoing));
    const auto same = std::ranges::find(phone.waiting, outgoing.collapseID, &Outgoing::collapseID);
    if (same != phone.waiting.end()) {
        *same = std::move(outgoing);
        return;
    }
    phone.waiting.push_back(std::move(outgoing));
    if (phone.waiting.size() <= waitingPerPhone) return;
    phone.waiting.pop_front();
    quibLog().error("push: too many alerts waiting for ", priv(deviceID), "; dropped the oldest");
}

void PushSender::start(const std::string& deviceID, Outgoing outgoing) {
    assertOn(queue_);
    ++posts_[deviceID].posting;
    config_.poster->post(std::move(outgoing.request), [inbox = inbox_, deviceID,
                                                       token = std::move(outgoing.token)](HttpResponse response) {
        MutexLock guard(inbox->mutex);
        if (!inbox->sender) return;
        inbox->sender->onQueue([response = std::move(response), deviceID, token](PushSender& sender) {
            sender.absorb(response, deviceID, token);
            sender.finished(deviceID);
        });
    });
}

void PushSender::finished(const std::string& deviceID) {
    assertOn(queue_);
    const auto found = posts_.find(deviceID);
    if (found == posts_.end()) return;
    PhonePosts& phone = found->second;
    if (phone.posting > 0) --phone.posting;
    if (!phone.waiting.empty()) {
        Outgoing next = std::move(phone.waiting.front());
        phone.waiting.pop_front();
        return start(deviceID, std::move(next));
    }
    if (phone.posting == 0) posts_.erase(found);
}

HttpRequest PushSender::request(const std::string& relay, std::string body) const {
    HttpRequest request;
    request.url = relay;
    request.headers.emplace_back("Content-Type", "application/json");
    if (const auto secret = config_.settings->get(secretKey))
        request.headers.emplace_back("Authorization", "Bearer " + withoutLineBreaks(*secret));
    request.body = std::move(body);
    return request;
}

void PushSender::absorb(const HttpResponse& response, const std::string& deviceID, const std::string& token) {
    assertOn(queue_);
    if (response.failure) {
        lastFailure_ = "Relay unreachable";
        quibLog().error("push: ", pub(*response.failure));
        return;
    }
    const auto reason = reasonIn(response.body);
    if (response.status == 200) {
        lastFailure_.reset();
        return;
    }
    if (contains(reason, "BadDeviceToken") || contains(reason, "Unregistered")) {
        lastFailure_.reset();
        // An answer about a token the phone has since replaced must not end its newer subscription.
        if (router_.token(deviceID) != token) return;
        router_.forget(deviceID);
        quibLog().info("push: ", priv(deviceID), " is gone — stopped");
        return;
    }
    lastFailure_ = "Relay said " + std::to_string(response.status);
    quibLog().error("push: relay ", response.status, " ", pub(reason.value_or("")));
}

}  // namespace quib
