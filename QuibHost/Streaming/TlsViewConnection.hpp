#pragma once

#include <memory>

#include "QuibHost/Server/TlsConnection.hpp"
#include "QuibHost/Streaming/ViewConnection.hpp"

namespace quib {

// A phone's view channel: frames go out on its TLS connection, in order with anything the
// server sent before.
class TlsViewConnection final : public ViewConnection {
public:
    explicit TlsViewConnection(std::shared_ptr<TlsConnection> connection);

    const void* identity() const override { return connection_.get(); }
    void send(std::shared_ptr<const Bytes> frame, SendCompletion completed) override {
        connection_->send(std::move(frame), std::move(completed));
    }
    bool isPeerToPeer() const override { return peerToPeer_; }

    // Whether an interface holding `localAddress` is a peer-to-peer wireless link ("awdl…").
    static bool isPeerToPeerAddress(const asio::ip::address& localAddress);

private:
    std::shared_ptr<TlsConnection> connection_;
    bool peerToPeer_;  // an interface does not change under a connection
};

}  // namespace quib
