#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"

namespace quib {

// The away listener, approvals and the system watch are not served yet. Each operation keeps
// its shape (posting to the network queue where it will) so callers can rely on it now.

void HostServer::startAway() {
    network_->post([this] { startAwayNow(); });
}

void HostServer::startAwayNow() {}

void HostServer::stopAway() {
    network_->post([this] {
        if (awayListener_) awayListener_->cancel();
        awayListener_.reset();
        for (auto* table : {&clients_, &pending_}) {
            std::erase_if(*table, [](const auto& entry) {
                if (!entry.second->isAway) return false;
                entry.second->connection->cancel();
                return true;
            });
        }
        refreshConnectionLimit();
    });
}

void HostServer::beginApprovals() {}

void HostServer::beginSystemWatch() {}

void HostServer::beginRemoteAccessWatch() {}

}  // namespace quib
