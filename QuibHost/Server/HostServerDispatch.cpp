#include <type_traits>
#include <variant>

#include "Platform/Logger.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {

void HostServer::handle(const std::string& line, const ClientPtr& client) {
    auto decoded = QuibCoder::decode<ClientMessage>(line);
    if (!decoded) {
        send(HostMessage{HostMessage::Error{"Unreadable message"}}, *client);
        return;
    }
    if (gate_ && !gate_(*decoded, *client)) return;
    dispatch(*decoded, client);
}

void HostServer::dispatch(ClientMessage& message, const ClientPtr& client) {
    std::visit(
        [&](auto& payload) {
            using Case = std::decay_t<decltype(payload)>;
            if constexpr (std::is_same_v<Case, ClientMessage::Hello>) {
                greet(payload._0, client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::UploadHello>) {
                openUpload(payload._0, client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::Ping>) {
                answerPing(payload, *client);
            }
            // Input, targets, windows, catalog, menus, approvals and the other side channels are
            // not served yet: their messages pass the gate and are dropped here.
        },
        message.value);
}

void HostServer::answerPing(const ClientMessage::Ping& ping, const Client& client) {
    const auto uptime = clock_->now().time_since_epoch();
    const auto hostTime = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(uptime).count());
    send(HostMessage{HostMessage::Pong{ping.nonce, hostTime}}, client);
}

void HostServer::send(const HostMessage& message, const Client& client, bool thenClose) {
    sendEncoded(QuibCoder::line(message), client, thenClose);
}

void HostServer::sendEncoded(Result<std::string> line, const Client& client, bool thenClose) {
    if (!line) {
        // Nothing to write, but a reply that was to close its connection still closes it, once
        // the replies before it are written.
        if (thenClose) client.connection->send(std::string(), true);
        return;
    }
    client.connection->send(std::move(*line), thenClose);
}

void HostServer::sendRaw(std::string bytes, const Client& client, bool thenClose) {
    client.connection->send(std::move(bytes), thenClose);
}

}  // namespace quib
