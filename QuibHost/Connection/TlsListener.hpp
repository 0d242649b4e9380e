#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>

#include "QuibHost/Connection/TlsConnection.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Result.hpp"
#include "Shared/QuibTransport.hpp"

namespace quib {

// A TLS listener keyed by pre-shared keys: it accepts TCP connections on one port and hands each
// one, not yet started, to its new-connection handler. It takes new connections only while its
// new-connection limit is above zero; each one taken lowers the limit by one until the owner
// sets it again. A connection that arrives just as the limit reaches zero waits inside the
// listener until the limit rises. When the process runs out of file descriptors, accepting
// pauses and is tried again after 100 ms, then after twice as long each time up to 1 s, timed
// by the injected clock; each such episode is logged once. Everything except create() runs on
// the network queue.
class TlsListener : public std::enable_shared_from_this<TlsListener> {
public:
    enum class State { setup, ready, failed, cancelled };
    using StateHandler = std::function<void(State state, const std::optional<std::string>& error)>;
    using ConnectionHandler = std::function<void(std::shared_ptr<TlsConnection> connection)>;

    // Binds and listens at once, so a port in use fails here. An IPv6 bind address makes a
    // dual-stack listener that takes IPv4 peers too.
    static Result<std::shared_ptr<TlsListener>> create(asio::io_context& io,
                                                       const QuibTransport::Parameters& parameters,
                                                       const asio::ip::address& bindAddress, std::uint16_t port,
                                                       std::shared_ptr<Clock> clock);

    static constexpr std::chrono::milliseconds firstBackOff{100};
    static constexpr std::chrono::milliseconds longestBackOff{1000};

    TlsListener(asio::io_context& io, std::shared_ptr<asio::ssl::context> context, QuibTransport::TcpOptions tcp,
                std::shared_ptr<Clock> clock);
    TlsListener(const TlsListener&) = delete;
    TlsListener& operator=(const TlsListener&) = delete;

    void setStateHandler(StateHandler handler) { stateHandler_ = std::move(handler); }
    void setNewConnectionHandler(ConnectionHandler handler) { connectionHandler_ = std::move(handler); }
    void setNewConnectionLimit(int limit);
    int newConnectionLimit() const { return limit_; }

    // Reports ready (from the queue) and begins taking connections.
    void start();
    // Closes the port; reports cancelled (from the queue). Connections already handed out stay.
    void cancel();

    State state() const { return state_; }
    std::uint16_t port() const { return port_; }

private:
    void armAccept();
    void accepted(const std::error_code& error, asio::ip::tcp::socket socket);
    void backOff(const std::error_code& error);
    void deliver(asio::ip::tcp::socket socket);
    void fail(const std::error_code& error);
    void postReport(State state, std::optional<std::string> error);

    asio::ip::tcp::acceptor acceptor_;
    std::shared_ptr<asio::ssl::context> context_;
    QuibTransport::TcpOptions tcp_;
    std::shared_ptr<Clock> clock_;
    std::optional<Duration> backOff_;  // set while accepting waits for descriptors to free up
    std::uint16_t port_ = 0;
    State state_ = State::setup;
    int limit_ = 0;
    bool accepting_ = false;
    bool delivering_ = false;
    bool backingOff_ = false;
    std::optional<asio::ip::tcp::socket> waiting_;
    StateHandler stateHandler_;
    ConnectionHandler connectionHandler_;
};

}  // namespace quib
