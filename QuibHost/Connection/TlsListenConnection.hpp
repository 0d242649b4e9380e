#pragma once

#include <memory>

#include "QuibHost/Connection/ListenConnection.hpp"
#include "QuibHost/Connection/TlsConnection.hpp"

namespace quib {

// A phone's listen channel: frames go out on its TLS connection, in order with anything the
// server sent before.
class TlsListenConnection final : public ListenConnection {
public:
    explicit TlsListenConnection(std::shared_ptr<TlsConnection> connection);

    const void* identity() const override;
    void send(std::shared_ptr<const Bytes> frame, SendCompletion completed) override;
    Result<void> setNotSentLowWater(std::size_t bytes) override;

private:
    std::shared_ptr<TlsConnection> connection_;
};

}  // namespace quib
