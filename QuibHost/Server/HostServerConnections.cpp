#include "QuibHost/Connection/PeerAddress.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"

namespace quib {

void HostServer::accept(std::shared_ptr<TlsConnection> connection, bool away) {
    assertOn(*network_);
    const std::string source = sourceKey(connection->remoteEndpoint());
    if (away) quibLog().info("away: connection from ", priv(source));
    if (auto remaining = admission_.throttles().secondsLockedOut(source, clock_->now())) {
        quibLog().error("refused ", pub(source), ": locked out for another ", *remaining, "s");
        connection->cancel();
        refreshConnectionLimit();
        return;
    }
    place(Newcomer{std::move(connection), source, away});
}

// A newcomer is started, left waiting (unread) or refused. Only a source whose waiting
// connections have stalled is refused, and only so many wait: the listeners take no more while
// they do, so the rest wait in the kernel's backlog.
// How a newcomer is weighed: Admission.
void HostServer::place(Newcomer newcomer) {
    auto verdict = admission_.weigh(newcomer.source, clock_->now(), clients_.size());
    if (verdict.displaced) verdict.displaced->connection->cancel();
    switch (verdict.weighed) {
        case Admission::Weighed::refused: newcomer.connection->cancel(); break;
        case Admission::Weighed::waits:
            if (admission_.wait(newcomer)) {
                weighWaitingLater();
                break;
            }
            quibLog().error("refused ", pub(newcomer.source), ": ", mostWaiting,
                            " connections already wait for a slot");
            newcomer.connection->cancel();
            break;
        case Admission::Weighed::admitted:
            startClient(std::move(newcomer.connection), newcomer.source, newcomer.away);
            break;
    }
    refreshConnectionLimit();
}

void HostServer::startClient(std::shared_ptr<TlsConnection> connection, const std::string& source, bool away) {
    auto client = std::make_shared<Client>(std::move(connection), source, away);
    admission_.enter(client, clock_->now());
    refreshConnectionLimit();
    client->connection->setStateHandler(
        [this, client](TlsConnection::State state, const std::optional<std::string>& error) {
            connectionChanged(client, state, error);
        });
    watchBacklog(client);
    client->connection->start();
    receive(client);
    armHelloDeadline(client);
}

// When the first connection within its grace reaches its end (Admission::nextWeighing). Past
// that, only a connection's end changes what the waiting newcomers may do, and weighs them again
// itself.
void HostServer::weighWaitingLater() {
    const auto delay = admission_.nextWeighing(clock_->now());
    if (!delay) return;
    (void)network_->postAfter(*delay, [this] {
        admission_.weighingDone();
        admitWaiting();
    });
}

// Oldest first; one that must go on waiting goes to the back, and those behind it are weighed
// all the same, so a source waiting for its own turn holds up no other. Each stays in the queue
// until it is placed, so that the limit the listeners are given counts it meanwhile.
void HostServer::admitWaiting() {
    for (std::size_t n = admission_.waiting().size(); n > 0; --n) {
        auto newcomer = admission_.nextWaiting();
        if (!newcomer) return;
        place(std::move(*newcomer));
    }
}

// A peer that does not read what the host sends stops being read from once its backlog passes
// the limit. It is closed when it takes nothing of what waits for a whole backlogDeadline; a peer
// that reads on, however slowly, is given another deadline each time.
void HostServer::watchBacklog(const ClientPtr& client) {
    client->connection->setBacklogHandler(
        [this, weak = std::weak_ptr<Client>(client)](TlsConnection::Backlog change, std::size_t queued) {
            auto client = weak.lock();
            if (!client) return;
            if (change == TlsConnection::Backlog::overflowed) {
                quibLog().error("closing ", pub(client->source), ": ", static_cast<std::uint64_t>(queued),
                                " bytes were waiting for it to read");
                return;
            }
            if (change != TlsConnection::Backlog::over) return;
            judgeBacklog(client, ++client->backlogEpisodes, client->connection->writtenBytes());
        });
}

void HostServer::judgeBacklog(const ClientPtr& client, std::uint64_t episode, std::uint64_t written) {
    network_->postAfter(backlogDeadline, [this, weak = std::weak_ptr<Client>(client), episode, written] {
        auto client = weak.lock();
        if (!client || client->backlogEpisodes != episode || !client->connection->isBacklogged()) return;
        const std::uint64_t now = client->connection->writtenBytes();
        if (now != written) {
            judgeBacklog(client, episode, now);
            return;
        }
        quibLog().error("closing ", pub(client->source), ": it read nothing of ",
                        static_cast<std::uint64_t>(client->connection->queuedBytes()), " waiting bytes for ",
                        static_cast<std::int64_t>(backlogDeadline.count()), "s");
        client->connection->cancel();
    });
}

void HostServer::connectionChanged(const ClientPtr& client, TlsConnection::State state,
                                   const std::optional<std::string>& error) {
    switch (state) {
        case TlsConnection::State::ready: logReady(*client); break;
        case TlsConnection::State::failed:
        case TlsConnection::State::cancelled:
            neighbours_.panelStreamer->detachViewer(*client->connection);
            neighbours_.audioStreamer->detachListener(*client->connection);
            finish(client, state == TlsConnection::State::failed ? error.value_or("") : std::optional<std::string>());
            break;
        case TlsConnection::State::setup:
        case TlsConnection::State::preparing: break;
    }
}

void HostServer::logReady(const Client& client) {
    const auto& connection = *client.connection;
    const std::string remote = PeerAddress::endpointText(connection.remoteEndpoint());
    const std::string interfaces = systemWatch_.networkInterfaces().describe(connection.localEndpoint().address());
    const bool expensive = false;  // no metered-link notion here
    quibLog().info("client ready: remote=", pub(remote), " interfaces=", pub(interfaces), " expensive=", expensive);
}

// A connection still pending when the deadline passes is cancelled; its end then counts as a
// failed handshake of its source, unless it sent nothing at all.
void HostServer::armHelloDeadline(const ClientPtr& client) {
    network_->postAfter(helloDeadline, [this, weak = std::weak_ptr<Client>(client)] {
        auto client = weak.lock();
        if (!client || !admission_.pending().contains(client.get())) return;
        quibLog().error("dropping ", pub(client->source), ": connected but never said hello");
        client->connection->cancel();
    });
}

// Waiting newcomers take no slot (Admission::listenerLimit).
void HostServer::refreshConnectionLimit() {
    assertOn(*network_);
    const int limit = admission_.listenerLimit(clients_.size());
    if (listener_) listener_->setNewConnectionLimit(limit);
    awayListener_.setNewConnectionLimit(limit);
}

void HostServer::finish(const ClientPtr& client, const std::optional<std::string>& error) {
    assertOn(*network_);
    const bool wasPending = admission_.pending().erase(client.get()) > 0;
    const bool wasConnected = clients_.erase(client.get()) > 0;
    refreshConnectionLimit();
    if (wasPending || wasConnected) admitWaiting();
    if (auto upload = std::exchange(client->upload, nullptr)) upload->abandon();
    if (wasConnected && client->didHello && client->isControlConnection())
        quibLog().info("connection of ", pub(client->name), " ended", error ? ": " : "", pub(error.value_or("")));
    if (wasConnected) {
        if (!client->heldButtons.empty()) {
            neighbours_.injector->release(std::exchange(client->heldButtons, {}));
        }
        if (!client->approvalIDs.empty()) {
            onMain([ids = std::exchange(client->approvalIDs, {})](HostServer& server) {
                server.neighbours_.approvals->withdraw(ids);
            });
        }
    } else if (wasPending && client->connection->receivedBytes() > 0) {
        // A phone with the wrong pairing code fails the key's check in the handshake: said as
        // such on every attempt, rather than as the TLS error it is underneath.
        if (!client->isAway && error && error->find("binder does not verify") != std::string::npos)
            quibLog().error("wrong pairing code from ", pub(client->source));
        noteHandshakeFailure(client->source, error);
    }
    // A peer that sent nothing guessed nothing: a retry its phone gave up on while it waited in
    // the backlog for a slot costs the phone no lock-out.
    publishDevices();
}

void HostServer::noteHandshakeFailure(const std::string& source, const std::optional<std::string>& error) {
    assertOn(*network_);
    const auto failure = admission_.throttles().noteFailure(source, clock_->now());
    if (!failure.lockSeconds) return;
    const std::string reason = error.value_or("closed");
    quibLog().error(pub(source), ": ", failure.failures, " failed handshakes, locked out ", *failure.lockSeconds, "s (",
                    pub(reason), ")");
}

void HostServer::receive(const ClientPtr& client) {
    assertOn(*network_);
    client->connection->receive(TlsConnection::largestRead,
                                [this, client](std::string data, bool isComplete, std::optional<std::string> error) {
                                    if (!data.empty()) take(data, client);
                                    if (isComplete || error) {
                                        client->connection->cancel();
                                        return;
                                    }
                                    receive(client);
                                });
}

// Lines are taken one at a time: after a line that turns the connection into an upload, every
// byte the framer still holds belongs to the upload, line feeds and all. After a view, listen or
// still hello nothing more is read as lines, nor once a reply that closes the connection is on
// its way.
void HostServer::take(const std::string& data, const ClientPtr& client) {
    if (client->connection->isClosing()) return;
    if (client->upload) {
        absorb(data, client->upload, client);
        return;
    }
    if (client->isFrameChannel()) return;
    const std::int64_t dropped = client->framer.droppedLines();
    client->framer.feed(data);
    while (!client->connection->isClosing()) {
        auto line = client->framer.nextLine();
        if (!line) {
            // A line past the limit is thrown away as it arrives; its sender hears why.
            if (client->framer.droppedLines() != dropped)
                send(HostMessage{HostMessage::Error{"That text is too long to send"}}, *client);
            return;
        }
        handle(*line, client);
        if (client->upload) {
            absorb(client->framer.drain(), client->upload, client);
            return;
        }
        if (client->isFrameChannel()) {
            (void)client->framer.drain();
            return;
        }
    }
}

}  // namespace quib
