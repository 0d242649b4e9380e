#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/QuibProtocol.hpp"

namespace quib {

namespace {

using namespace std::chrono_literals;

// A refused phone is told to wait at most once in this long, per connection.
constexpr auto refusalInterval = 1s;

std::string versionRefusal(std::int64_t version) {
    return "This phone speaks protocol " + std::to_string(version) + "; " + HostWords::thisComputer.str() + " speaks " +
           std::to_string(QuibProtocol::minimumSupportedVersion) + " to " + std::to_string(QuibProtocol::version) +
           ". Update whichever end is older.";
}

}  // namespace

// What the routing table lets pass before approval (hellos of every kind and pings) always
// passes; anything else only from a connection whose hello was accepted and whose device is
// approved now (approval is read afresh for every message).
bool HostServer::isPermitted(const ClientMessage& message, Client& client) {
    if (passesBeforeApproval(message.value)) return true;
    if (client.didHello && client.deviceID) {
        if (registry_->isApproved(*client.deviceID)) return true;
        refuseUntilApproved(client);
        return false;
    }
    send(HostMessage{HostMessage::Error{"Send hello first"}}, client, true);
    return false;
}

// The connection stays open; the phone is told at most once a second.
void HostServer::refuseUntilApproved(Client& client) {
    const MonoTime now = clock_->now();
    if (now <= client.lastRefusal + refusalInterval) return;
    client.lastRefusal = now;
    send(HostMessage{HostMessage::Error{waitForApprovalText()}}, client);
}

std::string HostServer::waitForApprovalText(std::string_view ending) const {
    return "Waiting for approval on " + hostDisplayName() + std::string(ending);
}

// A hello of a supported version admits the connection and clears its source's failed
// handshakes before anything else is decided, so even a revoked phone that knows the code stops
// counting as a failing source.
void HostServer::greet(const HelloPayload& hello, const ClientPtr& client) {
    if (!QuibProtocol::supports(hello.protocolVersion)) {
        // Still pending: its end counts as a failed handshake.
        send(HostMessage{HostMessage::Error{versionRefusal(hello.protocolVersion)}}, *client, true);
        return;
    }
    client->name = hello.deviceName;
    client->deviceID = hello.deviceID;
    client->didHello = true;
    admit(client);
    admission_.throttles().forget(client->source);

    if (registry_->isRevoked(hello.deviceID)) {
        note(hello.deviceName + " was revoked; refusing it");
        send(HostMessage{HostMessage::Error{
                 std::string(said<capitalised<HostWords::thisComputer>,
                                  " has revoked this device. Approve it again in ", HostWords::panel, ".">)}},
             *client, true);
        return;
    }
    const bool approved = registry_->seen(hello.deviceID, hello.deviceName);
    if (!approved) note(hello.deviceName + " is waiting to be approved");
    neighbours_.push->deviceArrived(hello.deviceID);
    publishDevices();
    welcome(client, approved);
    if (!approved) armApprovalDeadline(client);
}

// A phone that is not approved keeps its connection, and a slot of the budget, while it waits:
// for approvalDeadline at most, so that phones that are never approved cannot keep an approved
// one out. It may connect again, and waits anew.
void HostServer::armApprovalDeadline(const ClientPtr& client) {
    network_->postAfter(approvalDeadline, [this, weak = std::weak_ptr<Client>(client)] {
        auto client = weak.lock();
        if (!client || !clients_.contains(client.get()) || !client->deviceID) return;
        if (registry_->isApproved(*client->deviceID)) return;
        quibLog().error("closing the connection of ", pub(client->name), ": not approved within ",
                        static_cast<std::int64_t>(approvalDeadline.count()), "s");
        client->connection->cancel();
    });
}

// A device not yet approved hears of no target; an approved one gets the saved targets in the
// welcome, then every target, how to reach the host from away and the approvals waiting.
void HostServer::welcome(const ClientPtr& client, bool approved) {
    HostStatus hostStatus = status(client->deviceID);
    std::vector<QuibTarget> saved;
    if (approved) saved = neighbours_.targets->snapshot().saved;
    send(HostMessage{HostMessage::Welcome{std::move(hostStatus), std::move(saved)}}, *client);
    const char* waiting = approved ? "" : ", waiting to be approved";
    if (client->isAway) quibLog().info("welcomed ", pub(client->name), " from away", waiting);
    else quibLog().info("welcomed ", pub(client->name), " from ", pub(client->source), waiting);
    if (!approved) return;

    auto [all, provisional] = neighbours_.targets->snapshot();
    all.insert(all.end(), std::make_move_iterator(provisional.begin()), std::make_move_iterator(provisional.end()));
    send(HostMessage{HostMessage::Targets{std::move(all)}}, *client);
    sendRemoteAccess(client);
    // The broker lives on the main executor; the list goes back to the network queue to be sent,
    // so it queues behind the welcome and the targets instead of overtaking them.
    onMain([to = ClientRef(client)](HostServer& server) {
        auto pending = server.neighbours_.approvals->pending();
        if (pending.empty()) return;
        server.network_->post([self = &server, to, pending = std::move(pending)]() mutable {
            if (auto client = to.lock())
                self->send(HostMessage{HostMessage::PendingApprovals{std::move(pending)}}, *client);
        });
    });
}

bool HostServer::accessibilityGranted() const {
    return permissions_->accessibilityTrusted() && !neighbours_.injector->apiDisabled();
}

HostStatus HostServer::status(const std::optional<std::string>& deviceID) const {
    HostStatus status;
    status.hostName = hostDisplayName();
    status.protocolVersion = QuibProtocol::version;
    status.accessibilityGranted = accessibilityGranted();
    status.injectionPaused = neighbours_.injector->isPaused();
    status.activeTargetID = neighbours_.targets->activeSnapshot();
    status.deviceApproved = deviceID && registry_->isApproved(*deviceID);
    status.tmuxAvailable = neighbours_.targets->tmuxAvailable();
    status.screenRecordingGranted = permissions_->screenRecordingGranted();
    const auto unresolved = neighbours_.targets->unresolvedSnapshot();
    status.unresolvedTargetIDs.assign(unresolved.begin(), unresolved.end());
    status.pushRelayConfigured = neighbours_.push->isConfigured();
    return status;
}

// A connection past its first line no longer counts against its source's waiting ones, so a
// newcomer of that source waiting its turn may now start.
void HostServer::admit(const ClientPtr& client) {
    admission_.pending().erase(client.get());
    clients_.emplace(client.get(), client);
    refreshConnectionLimit();
    if (!admission_.waiting().empty()) network_->post([this] { admitWaiting(); });
}

// The check every side-channel hello makes first. A refused connection is closed while still
// pending, so its end counts as a failed handshake of its source.
bool HostServer::passesDeviceCheck(SideChannel channel, const std::string& deviceID, const std::string& deviceName,
                                   const Client& client) {
    if (registry_->isApproved(deviceID)) return true;
    const char* beginning = "refused an upload from ";
    switch (channel) {
        case SideChannel::view: beginning = "refused a panel viewer from "; break;
        case SideChannel::listen: beginning = "refused a listener from "; break;
        case SideChannel::still: beginning = "refused a screenshot request from "; break;
        case SideChannel::upload: break;
    }
    note(beginning + deviceName + ": not approved");
    send(HostMessage{HostMessage::Error{waitForApprovalText(panelEnding)}}, client, true);
    return false;
}

}  // namespace quib
