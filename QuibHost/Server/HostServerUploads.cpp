#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/SecureRandom.hpp"

namespace quib {

namespace {

constexpr const char* noSuchTarget = "No target with that id \u2014 it may have been removed";

}  // namespace

// After the device check and the manifest's own checks, every target the upload names must
// exist; looking them up also adopts a provisional one among them.
void HostServer::openUpload(const AttachmentManifest& manifest, const ClientPtr& client) {
    if (!passesDeviceCheck(SideChannel::upload, manifest.deviceID, manifest.deviceName, *client)) return;
    if (auto refusal = neighbours_.uploads->refusal(manifest)) {
        note("refused an upload from " + manifest.deviceName + ": " + *refusal);
        send(HostMessage{HostMessage::Error{*refusal}}, *client, true);
        return;
    }
    for (const auto& id : manifest.targetIDs) {
        if (neighbours_.targets->safeTarget(id)) continue;
        send(HostMessage{HostMessage::Error{noSuchTarget}}, *client, true);
        return;
    }
    client->name = manifest.deviceName;
    client->deviceID = manifest.deviceID;
    const std::string batchID = newUuidString();
    client->upload = neighbours_.uploads->open(manifest, batchID);
    client->lastFrameAt = clock_->now();
    admit(client);
    watchUploadStall(client, uploadStallDeadline);
    quibLog().info("upload ", pub(batchID), ": ", manifest.count, " attachment(s) from ", pub(manifest.deviceName));
    send(HostMessage{HostMessage::UploadReady{batchID}}, *client);
}

void HostServer::absorb(std::string_view data, std::shared_ptr<UploadSession> upload, const ClientPtr& client) {
    assertOn(*network_);
    if (data.empty() || !upload) return;
    // A frame counts from when its bytes came in, not from when storing it was done.
    const MonoTime arrived = clock_->now();
    const std::size_t stored = upload->storedCount();
    UploadSession::Progress progress = upload->append(data);
    if (upload->storedCount() > stored) client->lastFrameAt = arrived;
    switch (progress.kind) {
        case UploadSession::Progress::Kind::refused: {
            client->upload = nullptr;
            quibLog().error("upload ", pub(upload->batchID()), " refused: ", pub(progress.message));
            const std::string text = "Upload refused: " + progress.message;
            note(text);
            send(HostMessage{HostMessage::Error{text}}, *client, true);
            break;
        }
        case UploadSession::Progress::Kind::complete:
            client->upload = nullptr;
            deliver(std::move(progress.attachments), upload, client);
            break;
        case UploadSession::Progress::Kind::waiting: break;
    }
}

// An upload that gets no whole frame for uploadStallDeadline holds a slot of the budget for
// nothing: its connection is closed, which abandons the upload and deletes what it stored. A
// frame that arrives whole starts the wait again; trickling bytes do not.
void HostServer::watchUploadStall(const ClientPtr& client, MonoTime::duration delay) {
    assertOn(*network_);
    (void)network_->postAfter(delay, [this, weak = std::weak_ptr<Client>(client),
                                      upload = std::weak_ptr<UploadSession>(client->upload)] {
        auto client = weak.lock();
        if (!client || !client->upload || client->upload != upload.lock()) return;
        const auto waited = clock_->now() - client->lastFrameAt;
        if (waited < uploadStallDeadline) {
            watchUploadStall(client, uploadStallDeadline - waited);
            return;
        }
        quibLog().error("closing upload ", pub(client->upload->batchID()), " from ", pub(client->name),
                        ": no image arrived whole for ", static_cast<std::int64_t>(uploadStallDeadline.count()), "s");
        client->connection->cancel();
    });
}

// The targets are resolved again, since one may have gone while the images arrived; the ones
// left get the images one after another on the injection queue, each answered with its receipt,
// the connection closing after the last. When none is left the stored images stay in the inbox,
// which is pruned then too, so that such uploads never grow it past its limits.
void HostServer::deliver(std::vector<UploadAttachment> attachments, const std::shared_ptr<UploadSession>& upload,
                         const ClientPtr& client) {
    std::vector<QuibTarget> targets;
    for (const auto& id : upload->manifest().targetIDs) {
        if (auto target = neighbours_.targets->safeTarget(id)) targets.push_back(std::move(*target));
    }
    if (targets.empty()) {
        send(HostMessage{HostMessage::Error{noSuchTarget}}, *client, true);
        onInjection([](HostServer& server) { server.neighbours_.uploads->prune(); });
        return;
    }
    auto work = [attachments = std::move(attachments), upload, to = ClientRef(client),
                 targets = std::move(targets)](HostServer& server) {
        for (std::size_t i = 0; i < targets.size(); ++i) {
            server.deliverUpload(attachments, *upload, targets[i], to, i + 1 == targets.size());
        }
        server.neighbours_.uploads->prune();
    };
    onInjection(std::move(work));
}

// Injection queue: one target of a completed upload. Each target in turn becomes the active one;
// the follow-up chord is pressed only after a delivery that succeeded, and changes no receipt.
void HostServer::deliverUpload(const std::vector<UploadAttachment>& attachments, const UploadSession& upload,
                               const QuibTarget& target, const ClientRef& to, bool isLast) {
    const AttachmentManifest& manifest = upload.manifest();
    onMain([id = target.id](HostServer& server) { server.neighbours_.targets->setActive(id); });
    const DeliveryReceipt receipt = neighbours_.router->deliver(attachments, manifest.text, target, manifest.submit);
    note(receipt.message);
    if (receipt.ok && manifest.followChord) {
        const auto pressed = neighbours_.router->press(*manifest.followChord, target);
        if (!pressed.ok) note(pressed.message);
    }
    reply(to, HostMessage{HostMessage::Delivered{receipt}}, isLast);
    if (!receipt.ok) quibLog().error("upload ", pub(upload.batchID()), ": ", pub(receipt.message));
}

}  // namespace quib
