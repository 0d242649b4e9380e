// Text, key chords and focus from a phone: the target is looked up here on the network queue,
// the named one is made active on the main executor, and the router does the work on the
// injection queue, which sends the replies. Work queued for later holds its client weakly.

#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/UnicodeText.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/WindowListPayload.hpp"

namespace quib {

namespace {

constexpr const char* unknownTarget = "Unknown target";
constexpr std::int64_t windowListBudget = 262144;

HostMessage error(std::string text) { return HostMessage{HostMessage::Error{std::move(text)}}; }
HostMessage delivered(DeliveryReceipt receipt) { return HostMessage{HostMessage::Delivered{std::move(receipt)}}; }

// A receipt for text that never reached the router.
DeliveryReceipt undelivered(std::optional<std::string> targetID, std::string targetName, const std::string& text,
                            std::string message) {
    const auto characters = static_cast<std::int64_t>(unicode::graphemeCount(text));
    return {false, std::move(targetID), std::move(targetName), characters, false, std::move(message)};
}

}  // namespace

void HostServer::reply(const ClientRef& to, const HostMessage& message, bool thenClose) {
    network_->post([this, to, line = QuibCoder::line(message), thenClose]() mutable {
        if (auto client = to.lock()) sendEncoded(std::move(line), *client, thenClose);
    });
}

// A named target becomes active even when the delivery then fails; the active target is used
// as it is, without being made active again.
void HostServer::deliverText(TextPayload payload, const ClientPtr& client) {
    std::optional<QuibTarget> target;
    if (payload.targetID) {
        const std::string& id = *payload.targetID;
        target = neighbours_.targets->safeTarget(id);
        if (!target) {
            const char* gone = "No target with that id \u2014 it may have been removed";
            send(delivered(undelivered(id, id, payload.text, gone)), *client);
            send(error(unknownTarget), *client);
            return;
        }
        onMain([id](HostServer& server) { server.neighbours_.targets->setActive(id); });
    } else if (!(target = neighbours_.targets->safeActiveTarget())) {
        send(delivered(undelivered(std::nullopt, "\u2014", payload.text,
                                   std::string(said<"No target is selected on ", HostWords::theComputer>))),
             *client);
        return;
    }
    onInjection(
        [payload = std::move(payload), target = std::move(*target), to = ClientRef(client)](HostServer& server) {
            const DeliveryReceipt receipt = server.neighbours_.router->deliver(payload.text, target, payload.submit);
            server.note(receipt.message);
            server.reply(to, delivered(receipt));
            if (!receipt.ok) server.reply(to, error(receipt.message));
        });
}

// A chord without a target goes to whatever window is in front; a key never changes the active
// target, and only a failure is answered.
void HostServer::pressKey(KeyPayload payload, const ClientPtr& client) {
    std::optional<QuibTarget> target;
    if (payload.targetID && !(target = neighbours_.targets->safeTarget(*payload.targetID))) {
        send(error(unknownTarget), *client);
        return;
    }
    onInjection(
        [chord = std::move(payload.chord), target = std::move(target), to = ClientRef(client)](HostServer& server) {
            const auto outcome = server.neighbours_.router->press(chord, target);
            server.note(outcome.message);
            if (!outcome.ok) server.reply(to, error(outcome.message));
        });
}

// After a failed focus of a target pinned to a window, the phone gets the app's windows to pick
// another from.
void HostServer::focusTarget(const std::string& id, const ClientPtr& client) {
    auto target = neighbours_.targets->safeTarget(id);
    if (!target) {
        send(error(unknownTarget), *client);
        return;
    }
    onMain([id](HostServer& server) { server.neighbours_.targets->setActive(id); });
    onInjection([id, target = std::move(*target), to = ClientRef(client)](HostServer& server) {
        const auto outcome = server.neighbours_.router->focus(target, true);
        server.note(outcome.message);
        server.reply(to, outcome.ok ? HostMessage{HostMessage::Toast{outcome.message}} : error(outcome.message));
        server.broadcastStatus();
        if (!outcome.ok && target.pinnedWindowID && target.bundleID) server.sendWindowList(target, id, to, false);
    });
}

void HostServer::sendWindowList(const QuibTarget& target, const std::string& targetID, const ClientRef& to, bool naming,
                                std::shared_ptr<WaitingRequests> joined) {
    onCatalog([target, targetID, to, naming, joined = std::move(joined)](HostServer& server) {
        if (joined) joined->start(targetID);
        auto list = server.neighbours_.windowList->windows(target.bundleID.value_or(""), target.pinnedWindowID, true);
        if (naming && list.note && list.note->starts_with("is")) list.note = target.name + " " + *list.note;
        for (auto& chunk : WindowListPayload::chunked(std::move(list.windows), targetID, list.note, windowListBudget)) {
            server.reply(to, HostMessage{HostMessage::Windows{std::move(chunk)}});
        }
    });
}

}  // namespace quib
