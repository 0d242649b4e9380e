#include "QuibHost/Connection/TlsViewConnection.hpp"

namespace quib {
namespace {

std::string plainText(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

}  // namespace

TlsViewConnection::TlsViewConnection(std::shared_ptr<TlsConnection> connection)
    : connection_(std::move(connection)), localAddress_(plainText(connection_->localEndpoint().address())) {}

}  // namespace quib
