#include "Platform/Logger.hpp"
#include "Platform/SecureRandom.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"

namespace quib {

// Hellos of every kind and pings always pass; anything else only from a connection whose hello
// was accepted and whose device is approved. What a refused phone is told comes with the full
// gate; until then a refusal is silent.
bool HostServer::isPermitted(const ClientMessage& message, Client& client) {
    const auto& value = message.value;
    if (std::holds_alternative<ClientMessage::Hello>(value) || std::holds_alternative<ClientMessage::ViewHello>(value) ||
        std::holds_alternative<ClientMessage::UploadHello>(value) ||
        std::holds_alternative<ClientMessage::StillHello>(value) ||
        std::holds_alternative<ClientMessage::ListenHello>(value) || std::holds_alternative<ClientMessage::Ping>(value)) {
        return true;
    }
    return client.didHello && client.deviceID && registry_->isApproved(*client.deviceID);
}

// The part of the hello that the connection server depends on: the connection is recorded as
// past its first line and its source's failed handshakes are forgotten. The version check,
// the welcome and the status come with the full hello.
void HostServer::greet(const HelloPayload& hello, const ClientPtr& client) {
    client->name = hello.deviceName;
    client->deviceID = hello.deviceID;
    client->didHello = true;
    admit(client);
    throttles_.forget(client->source);
    publishDevices();
}

void HostServer::admit(const ClientPtr& client) {
    pending_.erase(client.get());
    clients_.emplace(client.get(), client);
    refreshConnectionLimit();
}

void HostServer::openUpload(const AttachmentManifest& manifest, const ClientPtr& client) {
    if (!registry_->isApproved(manifest.deviceID)) {
        note("refused an upload from " + manifest.deviceName + ": not approved");
        send(HostMessage{HostMessage::Error{"Waiting for approval on " + hostDisplayName() +
                                            " \u2014 open the Fennic menu bar item"}},
             *client, true);
        return;
    }
    if (auto refusal = neighbours_.uploads->refusal(manifest)) {
        note("refused an upload from " + manifest.deviceName + ": " + *refusal);
        send(HostMessage{HostMessage::Error{*refusal}}, *client, true);
        return;
    }
    for (const auto& id : manifest.targetIDs) (void)neighbours_.targets->safeTarget(id);
    client->name = manifest.deviceName;
    client->deviceID = manifest.deviceID;
    const std::string batchID = newUuidString();
    client->upload = neighbours_.uploads->open(manifest, batchID);
    admit(client);
    quibLog().info("upload ", pub(batchID), ": ", manifest.count, " attachment(s) from ", pub(manifest.deviceName));
    send(HostMessage{HostMessage::UploadReady{batchID}}, *client);
}

void HostServer::absorb(std::string_view data, const std::shared_ptr<UploadSession>& upload, const ClientPtr& client) {
    if (data.empty() || !upload) return;
    UploadProgress progress = upload->append(data);
    switch (progress.kind) {
        case UploadProgress::Kind::refused: {
            client->upload = nullptr;
            quibLog().error("upload ", pub(upload->batchID()), " refused: ", pub(progress.message));
            const std::string text = "Upload refused: " + progress.message;
            note(text);
            send(HostMessage{HostMessage::Error{text}}, *client, true);
            break;
        }
        case UploadProgress::Kind::complete:
            // Delivering the images into their targets comes with the delivery work.
            client->upload = nullptr;
            break;
        case UploadProgress::Kind::waiting:
            break;
    }
}

}  // namespace quib
