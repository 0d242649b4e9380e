#include "QuibHost/Connection/TlsListenConnection.hpp"

namespace quib {

TlsListenConnection::TlsListenConnection(std::shared_ptr<TlsConnection> connection)
    : connection_(std::move(connection)) {}

const void* TlsListenConnection::identity() const { return connection_.get(); }

void TlsListenConnection::send(std::shared_ptr<const Bytes> frame, SendCompletion completed) {
    connection_->send(std::move(frame), std::move(completed));
}

Result<void> TlsListenConnection::setNotSentLowWater(std::size_t bytes) {
    return connection_->setNotSentLowWater(bytes);
}

}  // namespace quib
