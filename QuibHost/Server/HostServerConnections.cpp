#include "Platform/Logger.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "QuibHost/Server/NetworkInterfaces.hpp"
#include "QuibHost/Server/PeerAddress.hpp"

namespace quib {

void HostServer::accept(std::shared_ptr<TlsConnection> connection, bool away) {
    const std::string source = sourceKey(connection->remoteEndpoint());
    if (away) quibLog().info("away: connection from ", priv(source));
    if (auto remaining = throttles_.secondsLockedOut(source, clock_->now())) {
        quibLog().error("refused ", pub(source), ": locked out for another ", *remaining, "s");
        connection->cancel();
        refreshConnectionLimit();
        return;
    }
    auto client = std::make_shared<Client>(std::move(connection), source, away);
    pending_.emplace(client.get(), client);
    refreshConnectionLimit();
    client->connection->setStateHandler([this, client](TlsConnection::State state, const std::optional<std::string>& error) {
        connectionChanged(client, state, error);
    });
    client->connection->start();
    receive(client);
    armHelloDeadline(client);
}

void HostServer::connectionChanged(const ClientPtr& client, TlsConnection::State state, const std::optional<std::string>& error) {
    switch (state) {
        case TlsConnection::State::ready:
            logReady(*client);
            break;
        case TlsConnection::State::failed:
        case TlsConnection::State::cancelled:
            neighbours_.streaming->detachViewer(*client->connection);
            neighbours_.streaming->detachListener(*client->connection);
            finish(client, state == TlsConnection::State::failed ? error.value_or("") : std::optional<std::string>());
            break;
        case TlsConnection::State::setup:
        case TlsConnection::State::preparing:
            break;
    }
}

void HostServer::logReady(const Client& client) {
    const auto& connection = *client.connection;
    const std::string remote = PeerAddress::endpointText(connection.remoteEndpoint());
    const std::string interfaces = NetworkInterfaces::describe(connection.localEndpoint().address());
    const bool expensive = false;  // no metered-link notion here
    quibLog().info("client ready: remote=", pub(remote), " interfaces=", pub(interfaces), " expensive=", expensive);
}

// A connection still pending when the deadline passes is cancelled; its end then counts as a
// failed handshake of its source.
void HostServer::armHelloDeadline(const ClientPtr& client) {
    network_->postAfter(helloDeadline, [this, weak = std::weak_ptr<Client>(client)] {
        auto client = weak.lock();
        if (!client || !pending_.contains(client.get())) return;
        quibLog().error("dropping ", pub(client->source), ": connected but never said hello");
        client->connection->cancel();
    });
}

void HostServer::refreshConnectionLimit() {
    const int open = static_cast<int>(clients_.size() + pending_.size());
    const int limit = std::max(connectionBudget - open, 0);
    if (listener_) listener_->setNewConnectionLimit(limit);
    if (awayListener_) awayListener_->setNewConnectionLimit(limit);
}

void HostServer::finish(const ClientPtr& client, const std::optional<std::string>& error) {
    const bool wasPending = pending_.erase(client.get()) > 0;
    const bool wasConnected = clients_.erase(client.get()) > 0;
    refreshConnectionLimit();
    if (auto upload = std::exchange(client->upload, nullptr)) upload->abandon();
    if (wasConnected) {
        if (!client->heldButtons.empty()) {
            neighbours_.injector->release(std::exchange(client->heldButtons, {}));
        }
        if (!client->approvalIDs.empty()) {
            onMain([ids = std::exchange(client->approvalIDs, {})](HostServer& server) {
                server.neighbours_.approvals->withdraw(ids);
            });
        }
    } else if (wasPending) {
        noteHandshakeFailure(client->source, error);
    }
    publishDevices();
}

void HostServer::noteHandshakeFailure(const std::string& source, const std::optional<std::string>& error) {
    const auto failure = throttles_.noteFailure(source, clock_->now());
    if (!failure.lockSeconds) return;
    const std::string reason = error.value_or("closed");
    quibLog().error(pub(source), ": ", failure.failures, " failed handshakes, locked out ", *failure.lockSeconds, "s (",
                    pub(reason), ")");
}

void HostServer::receive(const ClientPtr& client) {
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
// still hello nothing more is read as lines.
void HostServer::take(const std::string& data, const ClientPtr& client) {
    if (client->upload) {
        absorb(data, client->upload, client);
        return;
    }
    if (client->isFrameChannel()) return;
    client->framer.feed(data);
    while (auto line = client->framer.nextLine()) {
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
