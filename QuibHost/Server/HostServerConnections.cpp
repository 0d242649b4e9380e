#include <algorithm>
#include <map>

#include "QuibHost/Connection/PeerAddress.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "QuibHost/Server/NetworkInterfaces.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"

namespace quib {

void HostServer::accept(std::shared_ptr<TlsConnection> connection, bool away) {
    assertOn(*network_);
    const std::string source = sourceKey(connection->remoteEndpoint());
    if (away) quibLog().info("away: connection from ", priv(source));
    if (auto remaining = throttles_.secondsLockedOut(source, clock_->now())) {
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
void HostServer::place(Newcomer newcomer) {
    switch (weighNewcomer(newcomer.source)) {
        case Weighed::refused: newcomer.connection->cancel(); break;
        case Weighed::waits:
            if (waiting_.size() < mostWaiting) {
                waiting_.push_back(std::move(newcomer));
                weighWaitingLater();
                break;
            }
            quibLog().error("refused ", pub(newcomer.source), ": ", mostWaiting,
                            " connections already wait for a slot");
            newcomer.connection->cancel();
            break;
        case Weighed::admitted: startClient(std::move(newcomer.connection), newcomer.source, newcomer.away); break;
    }
    refreshConnectionLimit();
}

void HostServer::startClient(std::shared_ptr<TlsConnection> connection, const std::string& source, bool away) {
    auto client = std::make_shared<Client>(std::move(connection), source, away);
    client->order = ++accepted_;
    client->acceptedAt = clock_->now();
    pending_.emplace(client.get(), client);
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

// The budget is shared fairly: one source may hold at most two connections that have not said
// their first line; a third waits, unstarted, while those two are within their grace (a phone
// opening many side channels at once), and is refused once one of them has stalled past it.
// When every slot is taken, a newcomer from a source holding fewer such connections takes the
// place of the oldest one of the source holding the most, once that one has waited past its
// grace; until then, or when none may give way, the newcomer waits its turn. Connections past
// their first line are never given up for a newcomer. Refusals here count no failure.
HostServer::Weighed HostServer::weighNewcomer(const std::string& source) {
    const MonoTime graceEnded = clock_->now() - pendingGrace;
    std::size_t held = 0;
    bool stalled = false;
    for (const auto& [key, client] : pending_) {
        if (client->source != source) continue;
        ++held;
        stalled = stalled || client->acceptedAt <= graceEnded;
    }
    if (held >= pendingPerSource) {
        if (!stalled) return Weighed::waits;
        quibLog().error("refused ", pub(source), ": ", pendingPerSource,
                        " of its connections are already waiting for their first line");
        return Weighed::refused;
    }
    if (static_cast<int>(pending_.size() + clients_.size()) < connectionBudget || makeRoomFor(source))
        return Weighed::admitted;
    return Weighed::waits;
}

bool HostServer::makeRoomFor(const std::string& source) {
    struct Holder {
        std::size_t count = 0;
        ClientPtr oldest;  // the oldest past its grace
    };
    const MonoTime graceEnded = clock_->now() - pendingGrace;
    std::map<std::string, Holder> holders;
    for (const auto& [key, client] : pending_) {
        Holder& holder = holders[client->source];
        ++holder.count;
        if (client->acceptedAt > graceEnded) continue;
        if (!holder.oldest || client->order < holder.oldest->order) holder.oldest = client;
    }
    const std::size_t newcomerHolds = holders.contains(source) ? holders[source].count : 0;
    const Holder* most = nullptr;
    for (const auto& [key, holder] : holders) {
        if (holder.count <= newcomerHolds || !holder.oldest) continue;
        if (!most || holder.count > most->count ||
            (holder.count == most->count && holder.oldest->order < most->oldest->order))
            most = &holder;
    }
    if (!most) return false;
    // Out of the table first, so its end counts no failed handshake.
    const ClientPtr victim = most->oldest;
    pending_.erase(victim.get());
    quibLog().info("dropping ", pub(victim->source), ": its waiting connection gives way to one from ", pub(source));
    victim->connection->cancel();
    return true;
}

// The waiting newcomers are weighed again when the first connection still within its grace
// reaches the end of it; one timer at a time. Past that, only a connection's end changes what
// they may do, and weighs them again itself.
void HostServer::weighWaitingLater() {
    if (weighArmed_ || waiting_.empty()) return;
    const MonoTime now = clock_->now();
    MonoTime first = MonoTime::max();
    for (const auto& [key, client] : pending_) {
        if (client->acceptedAt + pendingGrace > now) first = std::min(first, client->acceptedAt + pendingGrace);
    }
    if (first == MonoTime::max()) return;
    weighArmed_ = true;
    (void)network_->postAfter(first - now, [this] {
        weighArmed_ = false;
        admitWaiting();
    });
}

// Oldest first; one that must go on waiting goes to the back, and those behind it are weighed
// all the same, so a source waiting for its own turn holds up no other. Each stays in the queue
// until it is placed, so that the limit the listeners are given counts it meanwhile.
void HostServer::admitWaiting() {
    for (std::size_t n = waiting_.size(); n > 0 && !waiting_.empty(); --n) {
        Newcomer newcomer = std::move(waiting_.front());
        waiting_.pop_front();
        place(std::move(newcomer));
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
    const std::string interfaces = networkInterfaces_.describe(connection.localEndpoint().address());
    const bool expensive = false;  // no metered-link notion here
    quibLog().info("client ready: remote=", pub(remote), " interfaces=", pub(interfaces), " expensive=", expensive);
}

// A connection still pending when the deadline passes is cancelled; its end then counts as a
// failed handshake of its source, unless it sent nothing at all.
void HostServer::armHelloDeadline(const ClientPtr& client) {
    network_->postAfter(helloDeadline, [this, weak = std::weak_ptr<Client>(client)] {
        auto client = weak.lock();
        if (!client || !pending_.contains(client.get())) return;
        quibLog().error("dropping ", pub(client->source), ": connected but never said hello");
        client->connection->cancel();
    });
}

// Waiting newcomers take no slot: while slots are free, newcomers are let in and weighed
// (weighNewcomer), so that one source's surplus, waiting, never hides another source's
// connection in the kernel's backlog. With every slot taken but some connection still before its
// first line, one more at a time is let in to be weighed against those, while there is room to
// wait; with every slot past its first line, newcomers wait in the backlog.
void HostServer::refreshConnectionLimit() {
    assertOn(*network_);
    const int open = static_cast<int>(clients_.size() + pending_.size());
    int limit = std::max(connectionBudget - open, 0);
    if (limit == 0 && !pending_.empty() && waiting_.size() < mostWaiting) limit = 1;
    if (listener_) listener_->setNewConnectionLimit(limit);
    if (awayListener_) awayListener_->setNewConnectionLimit(limit);
}

void HostServer::finish(const ClientPtr& client, const std::optional<std::string>& error) {
    assertOn(*network_);
    const bool wasPending = pending_.erase(client.get()) > 0;
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
    const auto failure = throttles_.noteFailure(source, clock_->now());
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
