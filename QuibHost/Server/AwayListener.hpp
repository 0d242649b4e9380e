#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "QuibHost/Connection/TlsListener.hpp"
#include "Shared/QuibTransport.hpp"

namespace quib {

// The second listener, for phones away from home: the running one, if any, with the per-device
// keys it was made with and the port it binds. It is rebuilt only when its keys, its port or
// its state call for it, so that a listener already serving the same keys on the same port
// stays, and so do the connections it accepted.
//
// Threads: not thread-safe; the server keeps it on its network queue, where its listener runs.
class AwayListener {
public:
    using Keys = std::vector<QuibTransport::Key>;

    // Whether a listener is there, setting up or ready, on `port`, keyed with `keys` in any order.
    bool serves(const Keys& keys, std::uint16_t port) const;

    // Keeps a listener just made with these keys on this port, in place of none.
    void keep(std::shared_ptr<TlsListener> listener, Keys keys, std::uint16_t port);
    // Cancels the listener, if any, and forgets it with its keys and port. Connections it
    // accepted stay open.
    void close();

    const std::shared_ptr<TlsListener>& listener() const { return listener_; }
    std::optional<std::uint16_t> port() const { return port_; }
    // Sets the listener's new-connection limit, when there is one.
    void setNewConnectionLimit(int limit);

private:
    std::shared_ptr<TlsListener> listener_;
    Keys keys_;
    std::optional<std::uint16_t> port_;
};

}  // namespace quib
