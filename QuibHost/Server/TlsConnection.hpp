#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>

#include "QuibHost/Server/OutgoingQueue.hpp"
#include "Shared/QuibTransport.hpp"

namespace quib {

// One accepted TLS connection of a listener. It runs on the network queue that owns its socket:
// the state handler and receive completions run there, and start, receive and the state are
// used there only. send and cancel may be called from any thread; they are carried out on the
// network queue in the order of the calls.
//
// A connection reports exactly one end: failed (the TLS handshake failed) or cancelled (it was
// cancelled, from either side). Its handlers are released once the end is reported.
class TlsConnection : public std::enable_shared_from_this<TlsConnection> {
public:
    enum class State { setup, preparing, ready, failed, cancelled };
    using StateHandler = std::function<void(State state, const std::optional<std::string>& error)>;
    // The bytes read (empty when none), whether the peer closed its side, and a read error.
    using ReceiveHandler = std::function<void(std::string data, bool isComplete, std::optional<std::string> error)>;

    static constexpr std::size_t largestRead = 65536;

    TlsConnection(asio::ip::tcp::socket socket, std::shared_ptr<asio::ssl::context> context);
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    const asio::ip::tcp::endpoint& remoteEndpoint() const { return remote_; }
    const asio::ip::tcp::endpoint& localEndpoint() const { return local_; }

    // Network queue.
    void setStateHandler(StateHandler handler) { stateHandler_ = std::move(handler); }
    void start();
    // Arms one read of 1 to `maximum` bytes; before the handshake is done it waits for it.
    void receive(std::size_t maximum, ReceiveHandler handler);
    State state() const { return state_; }

    // Any thread. Queues `bytes` behind every earlier send; with `thenClose` the connection is
    // cancelled once they have been written. Write errors are ignored: a broken connection
    // shows itself on the read side.
    void send(std::string bytes, bool thenClose);
    void cancel();

private:
    void cancelNow();
    void handshook(const std::error_code& error);
    void read(std::size_t maximum, ReceiveHandler handler);
    void enqueue(OutgoingQueue::Item item);
    void writeFront();
    void wrote();
    void closeSocket();
    void report(State state, std::optional<std::string> error);
    bool isOver() const { return state_ == State::failed || state_ == State::cancelled; }

    std::shared_ptr<asio::ssl::context> context_;  // outlives the stream that uses it
    QuibTransport::Stream stream_;
    asio::ip::tcp::endpoint remote_;
    asio::ip::tcp::endpoint local_;
    State state_ = State::setup;
    StateHandler stateHandler_;
    std::optional<std::pair<std::size_t, ReceiveHandler>> waitingReceive_;
    OutgoingQueue outgoing_;
    bool writing_ = false;
    std::array<char, largestRead> readBuffer_{};
};

}  // namespace quib
