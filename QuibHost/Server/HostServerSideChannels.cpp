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
    client->stallWritten = client->connection->writtenBytes();
    client->stallSince = clock_->now();
    admit(client);
}

// The protocol version of the hello plays no part: a phone too old for the control connection
// may still watch and listen.
void HostServer::openViewChannel(const ViewHelloPayload& hello, const ClientPtr& client) {
    if (!passesDeviceCheck(SideChannel::view, hello.deviceID, hello.deviceName, *client)) return;
    becomeFrameChannel(SideChannel::view, hello.deviceID, hello.deviceName, client);
    publishDevices();
    neighbours_.panelStreamer->attachViewer(client->connection, hello);
    watchFrameStall(client);
}

void HostServer::openListenChannel(const ListenHelloPayload& hello, const ClientPtr& client) {
    if (!passesDeviceCheck(SideChannel::listen, hello.deviceID, hello.deviceName, *client)) return;
    becomeFrameChannel(SideChannel::listen, hello.deviceID, hello.deviceName, client);
    publishDevices();
    neighbours_.audioStreamer->attachListener(client->connection, hello);
    watchFrameStall(client);
}

// The streamers send a channel no more while frames to it are in flight, so a phone that stops
// reading would keep its slot for ever: once it has taken none of the bytes in flight to it for
// frameStallDeadline, the channel is closed, as a stalled upload is. Bytes it takes, however
// slowly, or a time with nothing in flight, start the wait again.
void HostServer::watchFrameStall(const ClientPtr& client) {
    network_->postAfter(frameStallCheck, [this, weak = std::weak_ptr<Client>(client)] {
        auto client = weak.lock();
        if (!client || !clients_.contains(client.get()) || client->connection->isClosing()) return;
        const std::size_t inFlight = client->connection->queuedBytes();
        const std::uint64_t written = client->connection->writtenBytes();
        const MonoTime now = clock_->now();
        if (inFlight == 0 || written != client->stallWritten) {
            client->stallWritten = written;
            client->stallSince = now;
        } else if (now - client->stallSince >= frameStallDeadline) {
            quibLog().error("closing the ", client->isViewChannel ? "view" : "listen", " channel of ",
                            pub(client->name), ": it took none of ", static_cast<std::uint64_t>(inFlight),
                            " bytes in flight for ", static_cast<std::int64_t>(frameStallDeadline.count()), "s");
            client->connection->cancel();
            return;
        }
        watchFrameStall(client);
    });
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
