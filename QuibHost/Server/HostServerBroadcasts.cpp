#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/AssertOn.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {

void HostServer::broadcast(const HostMessage& message) {
    auto line = QuibCoder::line(message);
    if (!line) return;
    network_->post([this, line = std::move(*line)] { writeToApproved(line); });
}

// Network queue: the same bytes on every control connection of an approved device.
void HostServer::writeToApproved(const std::string& line) {
    for (const auto& [key, client] : clients_) {
        if (!client->deviceID || !client->isControlConnection()) continue;
        if (!registry_->isApproved(*client->deviceID)) continue;
        sendRaw(line, *client);
    }
}

// Each device's status differs, so each connection's is encoded on its own.
void HostServer::broadcastStatus() {
    network_->post([this] {
        for (const auto& [key, client] : clients_) {
            if (!client->isControlConnection()) continue;
            send(HostMessage{HostMessage::Status{status(client->deviceID)}}, *client);
        }
    });
}

void HostServer::broadcastTargets() {
    auto [all, provisional] = neighbours_.targets->snapshot();
    all.insert(all.end(), std::make_move_iterator(provisional.begin()), std::make_move_iterator(provisional.end()));
    network_->post(
        [this, all = std::move(all)]() mutable { broadcast(HostMessage{HostMessage::Targets{std::move(all)}}); });
}

// The device's connections are cut before the registry changes, so the reaction to the new
// approved list (a status to every control connection) finds them gone: a revoked phone is
// told nothing before the close. They are cut whether or not the revocation could be saved.
Result<void> HostServer::revoke(const std::string& deviceID) {
    assertOn(*main_);
    network_->post([this, deviceID] {
        for (const auto& [key, client] : clients_) {
            if (client->deviceID != deviceID) continue;
            neighbours_.audioStreamer->detachListener(*client->connection);
            client->connection->cancel();
        }
    });
    auto saved = registry_->revoke(deviceID);
    neighbours_.reach->forget(deviceID);
    neighbours_.push->forget(deviceID);
    startAway();
    broadcastStatus();
    publishDevices();
    return saved;
}

void HostServer::broadcastRemoteAccess() {
    network_->post([this] {
        for (const auto& [key, client] : clients_) {
            if (!client->deviceID || !client->isControlConnection()) continue;
            if (registry_->isApproved(*client->deviceID)) sendRemoteAccess(client);
        }
    });
}

// Whether the phone is on this network is decided here; the payload is built on the main
// executor, where remote reach lives; it is sent back on the network queue. A key handed out
// for the first time joins the away listener at once, even when its phone has gone meanwhile.
// The client is held weakly across both hops (see ClientRef); the server need not be, since the
// network queue runs nothing once the server has gone.
void HostServer::sendRemoteAccess(const ClientPtr& client) {
    assertOn(*network_);
    const bool isLocalPeer = !client->isAway && neighbours_.reach->isOnSameNetwork(client->source);
    onMain([to = ClientRef(client), deviceID = client->deviceID, isLocalPeer](HostServer& server) {
        RemoteAccessPayload payload = server.neighbours_.reach->payload(deviceID, isLocalPeer);
        const bool issuedKey = payload.issuedKey().has_value();
        server.network_->post([self = &server, to, payload = std::move(payload), issuedKey]() mutable {
            if (auto client = to.lock())
                self->send(HostMessage{HostMessage::RemoteAccess{std::move(payload)}}, *client);
            if (issuedKey) self->startAwayNow();
        });
    });
}

}  // namespace quib
