#include <algorithm>
#include <unordered_set>

#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
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
    if (awayListenerServes(keys, port)) return;
    if (awayListener_) awayListener_->cancel();
    awayListener_.reset();
    awayListenerKeys_.clear();
    awayListenerPort_.reset();
    if (!enabled) return;
    if (keys.empty()) {
        quibLog().info("away: no approved device has a key yet, so nothing is listening");
        return;
    }
    listenAway(std::move(keys), port);
}

bool HostServer::awayListenerServes(const std::vector<QuibTransport::Key>& keys, std::uint16_t port) const {
    if (!awayListener_ || awayListenerPort_ != port) return false;
    const auto state = awayListener_->state();
    if (state != TlsListener::State::setup && state != TlsListener::State::ready) return false;
    const std::unordered_set<QuibTransport::Key> running(awayListenerKeys_.begin(), awayListenerKeys_.end());
    const std::unordered_set<QuibTransport::Key> wanted(keys.begin(), keys.end());
    return running == wanted;
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
    awayListener_ = *listener;
    const std::size_t deviceCount = keys.size();
    awayListener_->setStateHandler(
        [this, port, deviceCount](TlsListener::State state, const std::optional<std::string>& error) {
            awayListenerChanged(state, error, port, deviceCount);
        });
    awayListener_->setNewConnectionHandler(
        [this](std::shared_ptr<TlsConnection> connection) { accept(std::move(connection), true); });
    refreshConnectionLimit();
    awayListener_->start();
    awayListenerKeys_ = std::move(keys);
    awayListenerPort_ = port;
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
        if (awayListener_) awayListener_->cancel();
        awayListener_.reset();
        for (const auto& [key, client] : clients_) {
            if (client->isAway) client->connection->cancel();
        }
        std::erase_if(pending_, [](const auto& entry) {
            if (!entry.second->isAway) return false;
            entry.second->connection->cancel();
            return true;
        });
        std::erase_if(waiting_, [](const Newcomer& newcomer) {
            if (newcomer.away) newcomer.connection->cancel();
            return newcomer.away;
        });
        refreshConnectionLimit();
        admitWaiting();
    });
}

// Both subscriptions skip the value current now, drop repeats, and wait for 200 ms of quiet.
void HostServer::beginRemoteAccessWatch() {
    auto tell = [weak = weak_from_this()](const auto&) {
        if (auto server = weak.lock()) server->broadcastRemoteAccess();
    };
    const SubscribeOptions options{.skipCurrent = true, .dropRepeats = true, .debounce = 200ms};
    auto& reach = *neighbours_.reach;
    subscriptions_.push_back(reach.candidates().subscribe(tell, options));
    subscriptions_.push_back(reach.status().subscribe(tell, options));
}

}  // namespace quib
