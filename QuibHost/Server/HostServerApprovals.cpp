// Agents' events and permission requests, phones' answers and push registrations, and how the
// approval broker's news reaches phones. The broker lives on the main executor; connections on
// the network queue.

#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {

std::set<std::string> HostServer::connectedDeviceIDs() const {
    assertOn(*network_);
    std::set<std::string> ids;
    for (const auto& [key, client] : clients_) {
        if (client->isControlConnection() && client->deviceID) ids.insert(*client->deviceID);
    }
    return ids;
}

// An event for a target the host does not know is still told, under its raw identifier.
void HostServer::agentEvent(AgentEvent event, const ClientPtr&) {
    const auto target = neighbours_.targets->safeTarget(event.targetID);
    const std::string name = target ? target->name : event.targetID;
    note(name + ": " + std::string(enumName(event.kind)));
    broadcast(HostMessage{HostMessage::AgentEvent{event}});
    neighbours_.push->send(event, name, connectedDeviceIDs());
}

// The connection remembers the id so that its end withdraws the request. When the broker finds
// the id already waiting, the id is dropped again, unless this connection held it before: a
// request repeated by another connection stays with the connection that made it. Only a request
// the broker took is pushed: one it refused or already holds would alert phones for nothing.
void HostServer::requestApproval(ApprovalRequest request, const ClientPtr& client) {
    if (request.targetID) {
        if (auto target = neighbours_.targets->safeTarget(*request.targetID)) request.targetName = target->name;
    }
    const bool remembered = client->approvalIDs.insert(request.id).second;
    onMain([request = std::move(request), remembered, connected = connectedDeviceIDs(),
            to = ClientRef(client)](HostServer& server) {
        const auto outcome = server.neighbours_.approvals->submit(request);
        if (outcome.kind == ApprovalLedger::AddOutcome::Kind::added) server.neighbours_.push->send(request, connected);
        if (outcome.kind != ApprovalLedger::AddOutcome::Kind::duplicate) return;
        server.network_->post([self = &server, to, id = request.id, remembered] {
            auto client = to.lock();
            if (!client) return;
            if (remembered) client->approvalIDs.erase(id);
            self->send(HostMessage{HostMessage::Error{"That request is already waiting"}}, *client);
        });
    });
}

// The phone's name is the decider's; the resolution reaches phones through the broker.
void HostServer::decideApproval(ClientMessage::ApprovalDecision decision, const ClientPtr& client) {
    onMain([decision = std::move(decision), by = client->name](HostServer& server) {
        server.neighbours_.approvals->decide(decision.id, decision.decision, decision.reason, by);
    });
}

void HostServer::sendPendingApprovals(const ClientPtr& client) {
    onMain([to = ClientRef(client)](HostServer& server) {
        server.reply(to, HostMessage{HostMessage::PendingApprovals{server.neighbours_.approvals->pending()}});
    });
}

void HostServer::registerPush(PushRegistration registration, const ClientPtr& client) {
    if (client->deviceID && registry_->isApproved(*client->deviceID)) {
        neighbours_.push->registerDevice(registration, *client->deviceID);
        return;
    }
    send(
        HostMessage{HostMessage::Error{std::string(said<"Approve this device on ", HostWords::theComputer, " first">)}},
        *client);
}

void HostServer::beginApprovals() {
    assertOn(*main_);
    std::weak_ptr<HostServer> weak = weak_from_this();
    neighbours_.approvals->setOnAdded([weak](const ApprovalRequest& request) {
        if (auto server = weak.lock()) server->broadcast(HostMessage{HostMessage::ApprovalRequest{request}});
    });
    neighbours_.approvals->setOnResolved([weak](const ApprovalResolution& resolution) {
        if (auto server = weak.lock()) server->deliverResolution(resolution);
    });
}

void HostServer::deliverResolution(const ApprovalResolution& resolution) {
    assertOn(*main_);
    neighbours_.push->resolved(resolution.requestID);
    auto line = QuibCoder::line(HostMessage{HostMessage::ApprovalResolved{resolution}});
    if (!line) return;
    network_->post([this, line = std::move(*line), id = resolution.requestID] {
        const auto approved = [this](const std::string& deviceID) { return registry_->isApproved(deviceID); };
        for (const auto& client : resolutionAudience(clients_, id, approved)) sendRaw(line, *client);
    });
}

std::vector<HostServer::ClientPtr> HostServer::resolutionAudience(
    const ClientTable& clients, const std::string& requestID,
    const std::function<bool(const std::string&)>& isApproved) {
    const Client* asker = nullptr;
    for (const auto& [key, client] : clients) {
        if (client->approvalIDs.erase(requestID) > 0) asker = client.get();
    }
    std::vector<ClientPtr> audience;
    for (const auto& [key, client] : clients) {
        if (!client->isControlConnection()) continue;
        const bool approved = client->deviceID && isApproved(*client->deviceID);
        if (approved || client.get() == asker) audience.push_back(client);
    }
    return audience;
}

}  // namespace quib
