#pragma once

#include <memory>
#include <string>

#include "QuibHost/Connection/TlsConnection.hpp"
#include "QuibHost/Connection/ViewConnection.hpp"

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
    std::string localAddress() const override { return localAddress_; }
    void limitNotSent(std::size_t bytes) override { connection_->limitNotSentSoon(bytes); }

private:
    std::shared_ptr<TlsConnection> connection_;
    std::string localAddress_;  // an address does not change under a connection
};

}  // namespace quib
