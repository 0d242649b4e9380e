#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>

#include "QuibHost/Connection/OutgoingQueue.hpp"
#include "QuibHost/Connection/TlsStream.hpp"
#include "Runtime/Bytes.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Result.hpp"
#include "Shared/QuibTransport.hpp"

namespace quib {

// One accepted TLS connection of a listener. It runs on the network queue that owns its socket:
// the state handler and receive completions run there, and start, receive and the state are
// used there only. send and cancel may be called from any thread; they are carried out on the
// network queue in the order of the calls.
//
// A connection reports exactly one end: failed (the TLS handshake failed) or cancelled (it was
// cancelled, from either side). Its handlers are released once the end is reported.
//
// What waits to be written is bounded: once more than the backlog limit waits, the connection
// stops reading (the peer's own sends then stall) until the backlog has drained below half the
// limit. The owner hears of each change through the backlog handler and judges, by how many
// bytes the peer takes meanwhile (writtenBytes), how long a backlog may last: one large reply
// is no fault of a peer that reads it. Only past `backlogCeiling` times the limit, far beyond
// any reply, is the connection cut at once, so that memory stays bounded.
class TlsConnection : public std::enable_shared_from_this<TlsConnection> {
public:
    enum class State { setup, preparing, ready, failed, cancelled };
    using StateHandler = std::function<void(State state, const std::optional<std::string>& error)>;
    // The bytes read (empty when none), whether the peer closed its side, and a read error.
    using ReceiveHandler = std::function<void(std::string data, bool isComplete, std::optional<std::string> error)>;
    // over: more than the limit waits and reading has stopped; drained: below half again and
    // reading goes on; overflowed: more than the ceiling waited, so the connection was cut.
    enum class Backlog { over, drained, overflowed };
    using BacklogHandler = std::function<void(Backlog change, std::size_t queuedBytes)>;

    // One TLS record's plaintext: no read returns more.
    static constexpr std::size_t largestRead = TlsStream::largestRead;
    // What a control connection may have waiting before it stops reading.
    static constexpr std::size_t controlBacklogLimit = 4 << 20;
    // How many times its backlog limit may wait for a connection before it is cut at once.
    static constexpr std::size_t backlogCeiling = 16;
    // The most one write hands to TLS, so that the bytes a peer takes are counted as it goes.
    static constexpr std::size_t largestWrite = 256 << 10;
    // How long a closing connection waits for the TLS close to be exchanged.
    static constexpr std::chrono::seconds closeTimeout{1};

    TlsConnection(asio::ip::tcp::socket socket, std::shared_ptr<asio::ssl::context> context,
                  std::shared_ptr<Clock> clock);
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    const asio::ip::tcp::endpoint& remoteEndpoint() const { return remote_; }
    const asio::ip::tcp::endpoint& localEndpoint() const { return local_; }

    // Network queue.
    void setStateHandler(StateHandler handler) { stateHandler_ = std::move(handler); }
    void setBacklogHandler(BacklogHandler handler) { backlogHandler_ = std::move(handler); }
    void setBacklogLimit(std::size_t bytes) { backlogLimit_ = bytes; }
    void start();
    // Arms one read of 1 to `maximum` bytes; before the handshake is done, and while the
    // backlog is over its limit, it waits.
    void receive(std::size_t maximum, ReceiveHandler handler);
    State state() const { return state_; }
    std::size_t queuedBytes() const { return outgoing_.queuedBytes(); }
    // The bytes the peer has sent so far, before TLS took them apart.
    std::uint64_t receivedBytes() const { return stream_.receivedBytes(); }

    // Any thread: the calling thread is the one running this connection's network queue (the
    // io_context of its socket) right now.
    bool isOnItsQueue() const;

    // Any thread: more than the backlog limit waits, and reading has stopped.
    bool isBacklogged() const { return backlogged_.load(); }
    // Any thread: the bytes written to the peer so far.
    std::uint64_t writtenBytes() const { return writtenBytes_.load(); }

    // Any thread. Queues `bytes` behind every earlier send; with `thenClose` the connection
    // closes once they have been written: a TLS close (at most closeTimeout), then the socket.
    // Write errors are ignored: a broken connection shows itself on the read side.
    void send(std::string bytes, bool thenClose);
    // Any thread. Queues one framed message, which other connections may share, behind every
    // earlier send, without copying it. `completed` is called once, on the network queue and
    // never from inside this call: with the clock's time when the last byte was written, or
    // with an error when the write failed or the connection ended before it.
    void send(std::shared_ptr<const Bytes> message, SendCompletion completed);
    // Network queue. Lets the kernel hold at most `bytes` not yet sent beyond what the peer's
    // window takes (TCP_NOTSENT_LOWAT), so that a slow peer shows itself in the sends
    // themselves instead of disappearing into a large socket buffer.
    Result<void> setNotSentLowWater(std::size_t bytes);
    // Any thread: the same, later, on the network queue; nothing once the connection is over.
    void limitNotSentSoon(std::size_t bytes);
    // Any thread: closes the socket at once, dropping whatever waits to be written.
    void cancel();
    // Any thread: a send that closes the connection, or a cancel, has been asked for; nothing
    // the peer says from then on needs an answer.
    bool isClosing() const { return closing_.load(); }

private:
    void cancelNow();
    void handshook(const std::error_code& error);
    void read(std::size_t maximum, ReceiveHandler handler);
    void enqueue(OutgoingQueue::Item item);
    void refuse(OutgoingQueue::Item item, const std::string& why);
    void abandonOutgoing();
    void writeFront();
    void wroteSome(std::size_t count, const std::error_code& error);
    void wrote(const std::error_code& error);
    void noteBacklog();
    void resumeReading();
    void closeGracefully();
    void shutDownTls();
    void closeSocket();
    void report(State state, std::optional<std::string> error);
    bool isOver() const { return state_ == State::failed || state_ == State::cancelled; }

    std::shared_ptr<asio::ssl::context> context_;  // outlives the stream that uses it
    std::shared_ptr<Clock> clock_;
    TlsStream stream_;
    asio::ip::tcp::endpoint remote_;
    asio::ip::tcp::endpoint local_;
    const TlsStream::executor_type queue_;  // the socket's: the network queue
    State state_ = State::setup;
    StateHandler stateHandler_;
    BacklogHandler backlogHandler_;
    std::optional<std::pair<std::size_t, ReceiveHandler>> waitingReceive_;
    OutgoingQueue outgoing_;
    std::size_t backlogLimit_ = controlBacklogLimit;
    std::atomic<bool> backlogged_{false};  // written on the network queue only
    std::atomic<std::uint64_t> writtenBytes_{0};
    std::size_t frontWritten_ = 0;  // bytes of the front item written so far
    bool writing_ = false;
    bool reading_ = false;
    bool shuttingDown_ = false;  // a closing reply was written; the TLS close is under way
    std::atomic<bool> closing_{false};
};

}  // namespace quib
