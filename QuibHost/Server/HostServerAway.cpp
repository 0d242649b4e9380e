#include <algorithm>

#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"

namespace quib {

using namespace std::chrono_literals;

void HostServer::startAway() {
    network_->post([this] { startAwayNow(); });
}

// Rebuilds the away listener when its keys, its port or its state call for it; a listener that
// already serves the same keys on the same port stays. Connections it accepted stay open.
void HostServer::startAwayNow() {
    const bool enabled = neighbours_.reach->isEnabled();
    std::vector<QuibTransport::Key> keys;
    if (enabled) keys = neighbours_.reach->listenerKeys();
    const std::uint16_t port = ServerSettings::awayPort(*settings_);
    if (awayListener_.serves(keys, port)) return;
    awayListener_.close();
    if (!enabled) return;
    if (keys.empty()) {
        quibLog().info("away: no approved device has a key yet, so nothing is listening");
        return;
    }
    listenAway(std::move(keys), port);
}

// The away listener shares the budget of 8 with the local one, so its limit is set from the
// tables at once rather than left at 8 while connections are open.
void HostServer::listenAway(std::vector<QuibTransport::Key> keys, std::uint16_t port) {
    auto listener =
        TlsListener::create(network_->context(), QuibTransport::parameters(keys, false), listenAddress_, port, clock_);
    if (!listener) {
        quibLog().error("away: could not bind port ", port, " (the setting ", pub(ServerSettings::awayPortKey.key()),
                        "): ", pub(listener.error().message));
        return;
    }
    const std::size_t deviceCount = keys.size();
    awayListener_.keep(*listener, std::move(keys), port);
    awayListener_.listener()->setStateHandler(
        [this, port, deviceCount](TlsListener::State state, const std::optional<std::string>& error) {
            awayListenerChanged(state, error, port, deviceCount);
        });
    awayListener_.listener()->setNewConnectionHandler(
        [this](std::shared_ptr<TlsConnection> connection) { accept(std::move(connection), true); });
    refreshConnectionLimit();
    awayListener_.listener()->start();
}

// A failed listener stays in place until the next start replaces it.
void HostServer::awayListenerChanged(TlsListener::State state, const std::optional<std::string>& error,
                                     std::uint16_t port, std::size_t deviceCount) {
    if (state == TlsListener::State::failed) {
        quibLog().error("away: listener failed ", pub(error.value_or("")));
    } else if (state == TlsListener::State::ready) {
        quibLog().info("away: listening on ", port, " for ", deviceCount, " device(s)");
    }
}

// Away connections past their first line are only cancelled: their ends then come through
// `finish`, which releases the buttons they hold and withdraws their approval requests. Those
// still pending are taken out first, so that their ends count as no failed handshake.
void HostServer::stopAway() {
    network_->post([this] {
        awayListener_.close();
        for (const auto& [key, client] : clients_) {
            if (client->isAway) client->connection->cancel();
        }
        admission_.dropAway();
        refreshConnectionLimit();
        admitWaiting();
    });
}

// Both subscriptions skip the value current now, drop repeats, and wait for 200 ms of quiet.
void HostServer::beginRemoteAccessWatch() {
    assertOn(*main_);
    auto tell = [weak = weak_from_this()](const auto&) {
        if (auto server = weak.lock()) server->broadcastRemoteAccess();
    };
    const SubscribeOptions options{.skipCurrent = true, .dropRepeats = true, .debounce = 200ms};
    auto& reach = *neighbours_.reach;
    subscriptions_.push_back(reach.candidates().subscribe(tell, options));
    subscriptions_.push_back(reach.status().subscribe(tell, options));
}

}  // namespace quib
