#include "QuibHost/Server/HostServer.hpp"

namespace quib {

// Sleep and wake are announced on the watch's own thread; both are handled on the main
// executor, since stop() waits for the network queue. The first delay of sleep is taken now.
// The interface baseline is read here, when the watch starts: change reports only come once
// something changes, so the first one after this already compares against it.
void HostServer::beginSystemWatch() {
    if (sleep_) {
        const bool watching = sleep_->start([main = main_, weak = weak_from_this()](bool goingToSleep) {
            main->post([weak, goingToSleep] {
                if (auto server = weak.lock()) goingToSleep ? server->goingToSleep() : server->wake();
            });
        });
        if (watching) sleep_->delaySleep();
    }
    if (interfaces_) {
        network_->post([this, baseline = interfaces_->activeNames()] {
            knownInterfaces_ = baseline;
            if (!interfaces_->start(network_->context(), [this] { interfacesReported(); })) return;
            interfaceList_->keepUntilChanged();
            networkInterfaces_.keepUntilChanged();
        });
    }
}

// The sleep is let go only once every connection is closed and the held buttons released.
void HostServer::goingToSleep() {
    stop();
    sleep_->allowSleep();
}

void HostServer::wake() {
    (void)neighbours_.injector->revalidateTrust();
    neighbours_.injector->clearDisplayCache();
    start(pairingCode_);
    broadcastStatus();
    sleep_->delaySleep();
}

// Network queue: the interfaces of log lines are read again at once; a burst of reports is
// judged once it has settled.
void HostServer::interfacesReported() {
    interfaceList_->changed();
    networkInterfaces_.changed();
    interfaceSettleTimer_.cancel();
    interfaceSettleTimer_ = network_->postAfter(interfaceSettle, [this] { compareInterfaces(); });
}

// The same names (in any order) change nothing; another set is stored and restarts the server.
void HostServer::compareInterfaces() {
    auto names = interfaces_->activeNames();
    if (knownInterfaces_ == names) return;
    knownInterfaces_ = std::move(names);
    onMain([](HostServer& server) { server.start(server.pairingCode_); });
}

}  // namespace quib
