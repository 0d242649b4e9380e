#include "QuibHost/Server/AwayListener.hpp"

#include <unordered_set>

namespace quib {

bool AwayListener::serves(const Keys& keys, std::uint16_t port) const {
    if (!listener_ || port_ != port) return false;
    const auto state = listener_->state();
    if (state != TlsListener::State::setup && state != TlsListener::State::ready) return false;
    const std::unordered_set<QuibTransport::Key> running(keys_.begin(), keys_.end());
    const std::unordered_set<QuibTransport::Key> wanted(keys.begin(), keys.end());
    return running == wanted;
}

void AwayListener::keep(std::shared_ptr<TlsListener> listener, Keys keys, std::uint16_t port) {
    listener_ = std::move(listener);
    keys_ = std::move(keys);
    port_ = port;
}

void AwayListener::close() {
    if (listener_) listener_->cancel();
    listener_.reset();
    keys_.clear();
    port_.reset();
}

void AwayListener::setNewConnectionLimit(int limit) {
    if (listener_) listener_->setNewConnectionLimit(limit);
}

}  // namespace quib
