// The view, listen and still hellos, with which a connection leaves the line protocol. View and
// listen channels are handed to the streamers and left to them; a still channel gets one
// picture, or one refusal, and is closed.

#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/QuibProtocol.hpp"
#include "Shared/StillFrame.hpp"

namespace quib {

namespace {

constexpr const char* noSuchTarget = "No target with that id \u2014 it may have been removed";

}  // namespace

// The connection leaves the pending set as a channel of frames for the device.
void HostServer::becomeFrameChannel(SideChannel channel, const std::string& deviceID, const std::string& deviceName,
                                    const ClientPtr& client) {
    client->isViewChannel = channel == SideChannel::view;
    client->isListenChannel = channel == SideChannel::listen;
    client->isStillChannel = channel == SideChannel::still;
    client->name = deviceName;
    client->deviceID = deviceID;
    admit(client);
}

// The protocol version of the hello plays no part: a phone too old for the control connection
// may still watch and listen.
void HostServer::openViewChannel(const ViewHelloPayload& hello, const ClientPtr& client) {
    if (!passesDeviceCheck(SideChannel::view, hello.deviceID, hello.deviceName, *client)) return;
    becomeFrameChannel(SideChannel::view, hello.deviceID, hello.deviceName, client);
    publishDevices();
    neighbours_.panelStreamer->attachViewer(client->connection, hello);
}

void HostServer::openListenChannel(const ListenHelloPayload& hello, const ClientPtr& client) {
    if (!passesDeviceCheck(SideChannel::listen, hello.deviceID, hello.deviceName, *client)) return;
    becomeFrameChannel(SideChannel::listen, hello.deviceID, hello.deviceName, client);
    publishDevices();
    neighbours_.audioStreamer->attachListener(client->connection, hello);
}

// Refusals before the connection is admitted close it while still pending, so they count as
// failed handshakes of its source, as any refused hello does.
void HostServer::openStillChannel(const StillRequest& request, const ClientPtr& client) {
    if (!passesDeviceCheck(SideChannel::still, request.deviceID, request.deviceName, *client)) return;
    if (!QuibProtocol::supports(request.protocolVersion)) {
        send(HostMessage{HostMessage::Error{"That phone speaks protocol " + std::to_string(request.protocolVersion) +
                                            "; " + HostWords::thisComputer.str() + " speaks " +
                                            std::to_string(QuibProtocol::version)}},
             *client, true);
        return;
    }
    auto target = neighbours_.targets->safeTarget(request.targetID);
    if (!target) {
        send(HostMessage{HostMessage::Error{noSuchTarget}}, *client, true);
        return;
    }
    becomeFrameChannel(SideChannel::still, request.deviceID, request.deviceName, client);
    // The capture may answer on any thread; the answer is sent from the network queue, which
    // runs nothing once the server has gone.
    neighbours_.stills->capture(
        *target, request.maxLongEdge,
        [network = network_, self = this, to = ClientRef(client)](StillCaptureService::Outcome outcome) {
            network->post([self, to, outcome = std::move(outcome)]() mutable {
                if (auto client = to.lock()) self->answerStill(std::move(outcome), *client);
            });
        });
}

void HostServer::answerStill(StillCaptureService::Outcome outcome, const Client& client) {
    if (const auto* refusal = std::get_if<StillCaptureService::Refusal>(&outcome)) {
        const std::string text = refusal->message();
        note("Screenshot refused: " + text);
        send(HostMessage{HostMessage::Error{text}}, client, true);
        return;
    }
    const auto& still = std::get<StillCaptureService::Still>(outcome);
    const StillFrame header{still.title, still.width, still.height, static_cast<std::int64_t>(still.png.size())};
    auto frame = StillFrameWriter::encode(header, still.png);
    if (!frame) {
        send(HostMessage{HostMessage::Error{"Couldn't encode the screenshot"}}, client, true);
        return;
    }
    quibLog().info("still: ", still.width, "\u00d7", still.height, ", ", header.byteCount, " bytes to ",
                   pub(client.name));
    sendRaw(std::string(frame->begin(), frame->end()), client, true);
}

}  // namespace quib
