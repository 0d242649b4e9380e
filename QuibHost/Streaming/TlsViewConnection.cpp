#include "QuibHost/Streaming/TlsViewConnection.hpp"

#include "Runtime/InterfaceAddresses.hpp"

namespace quib {

TlsViewConnection::TlsViewConnection(std::shared_ptr<TlsConnection> connection)
    : connection_(std::move(connection)), peerToPeer_(isPeerToPeerAddress(connection_->localEndpoint().address())) {}

bool TlsViewConnection::isPeerToPeerAddress(const asio::ip::address& localAddress) {
    const asio::ip::address plain =
        localAddress.is_v6() && localAddress.to_v6().is_v4_mapped()
            ? asio::ip::address(asio::ip::make_address_v4(asio::ip::v4_mapped, localAddress.to_v6()))
            : localAddress;
    for (const auto& entry : InterfaceAddresses::list()) {
        if (!entry.name.starts_with("awdl") || entry.host.empty()) continue;
        std::error_code error;
        const auto own = asio::ip::make_address(entry.host.substr(0, entry.host.find('%')), error);
        if (error) continue;
        if (own == plain || (own.is_v6() && plain.is_v6() && own.to_v6().to_bytes() == plain.to_v6().to_bytes())) return true;
    }
    return false;
}

}  // namespace quib
