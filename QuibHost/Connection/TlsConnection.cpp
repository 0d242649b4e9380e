#include "QuibHost/Connection/TlsConnection.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include <asio/dispatch.hpp>
#include <asio/error.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/ssl/error.hpp>

#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"

namespace quib {

namespace {

constexpr const char* endedBeforeSent = "The connection ended before the message was sent";

asio::ip::tcp::endpoint endpointOf(const asio::ip::tcp::socket& socket, bool remote) {
    std::error_code error;
    auto endpoint = remote ? socket.remote_endpoint(error) : socket.local_endpoint(error);
    return error ? asio::ip::tcp::endpoint() : endpoint;
}

}  // namespace

TlsConnection::TlsConnection(asio::ip::tcp::socket socket, std::shared_ptr<asio::ssl::context> context,
                             std::shared_ptr<Clock> clock)
    : context_(std::move(context)),
      clock_(std::move(clock)),
      stream_(std::move(socket), *context_),
      remote_(endpointOf(stream_.socket(), true)),
      local_(endpointOf(stream_.socket(), false)),
      queue_(stream_.get_executor()) {}

bool TlsConnection::isOnItsQueue() const {
    const auto* context = queue_.target<asio::io_context::executor_type>();
    return context && context->running_in_this_thread();
}

void TlsConnection::start() {
    assertOn([this] { return isOnItsQueue(); }, "network queue");
    if (state_ != State::setup) return;
    state_ = State::preparing;
    stream_.asyncHandshake([self = shared_from_this()](const std::error_code& error) { self->handshook(error); });
}

void TlsConnection::handshook(const std::error_code& error) {
    if (isOver()) return;
    if (error) {
        state_ = State::failed;
        waitingReceive_.reset();
        abandonOutgoing();
        closeSocket();
        report(State::failed, error.message());
        return;
    }
    state_ = State::ready;
    report(State::ready, std::nullopt);
    if (isOver()) return;
    resumeReading();
    if (!outgoing_.empty() && !writing_) writeFront();
}

void TlsConnection::receive(std::size_t maximum, ReceiveHandler handler) {
    assertOn([this] { return isOnItsQueue(); }, "network queue");
    if (isOver() || shuttingDown_) return;
    if (state_ != State::ready || backlogged_.load()) {
        waitingReceive_.emplace(maximum, std::move(handler));
        return;
    }
    read(maximum, std::move(handler));
}

void TlsConnection::resumeReading() {
    if (!waitingReceive_ || state_ != State::ready || backlogged_.load() || shuttingDown_) return;
    auto [maximum, handler] = std::move(*waitingReceive_);
    waitingReceive_.reset();
    read(maximum, std::move(handler));
}

void TlsConnection::read(std::size_t maximum, ReceiveHandler handler) {
    reading_ = true;
    stream_.asyncReadSome(maximum, [self = shared_from_this(), handler = std::move(handler)](
                                       const std::error_code& error, std::string_view bytes) {
        self->reading_ = false;
        if (self->isOver()) return;
        if (self->shuttingDown_) {
            // The read was cut short to make way for the TLS close.
            self->shutDownTls();
        } else if (!error) {
            handler(std::string(bytes), false, std::nullopt);
        } else if (error == asio::error::eof || error == asio::ssl::error::stream_truncated) {
            handler(std::string(), true, std::nullopt);
        } else {
            handler(std::string(), false, error.message());
        }
    });
}

// On the network queue the line joins the outgoing queue at once, so replies keep the order in
// which they were sent even when another thread posts a reply while the current handler runs
// (the io_context runs that cross-thread post before work posted from inside the handler).
void TlsConnection::send(std::string bytes, bool thenClose) {
    if (thenClose) closing_.store(true);
    asio::dispatch(stream_.get_executor(), [self = shared_from_this(), bytes = std::move(bytes), thenClose]() mutable {
        self->enqueue({std::move(bytes), thenClose});
    });
}

void TlsConnection::send(std::shared_ptr<const Bytes> message, SendCompletion completed) {
    asio::dispatch(stream_.get_executor(), [self = shared_from_this(), message = std::move(message),
                                            completed = std::move(completed)]() mutable {
        self->enqueue({{}, false, std::move(message), std::move(completed)});
    });
}

Result<void> TlsConnection::setNotSentLowWater(std::size_t bytes) {
    assertOn([this] { return isOnItsQueue(); }, "network queue");
    const int value = static_cast<int>(std::min<std::size_t>(bytes, INT_MAX));
    if (::setsockopt(stream_.socket().native_handle(), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &value, sizeof value) != 0)
        return fail(std::string("Could not limit the unsent bytes: ") + std::strerror(errno));
    return {};
}

void TlsConnection::limitNotSentSoon(std::size_t bytes) {
    asio::dispatch(stream_.get_executor(), [self = shared_from_this(), bytes] {
        if (self->isOver() || self->shuttingDown_) return;
        if (auto limited = self->setNotSentLowWater(bytes); !limited)
            quibLog().error("view: ", pub(limited.error().message));
    });
}

// Nothing queued behind a closing reply would ever be written, so it is not kept.
void TlsConnection::enqueue(OutgoingQueue::Item item) {
    assertOn([this] { return isOnItsQueue(); }, "network queue");
    if (isOver() || shuttingDown_ || (!outgoing_.empty() && outgoing_.back().closeAfter)) {
        refuse(std::move(item), endedBeforeSent);
        return;
    }
    const bool idle = outgoing_.push(std::move(item));
    noteBacklog();
    if (isOver()) return;
    if (idle && state_ == State::ready) writeFront();
}

void TlsConnection::noteBacklog() {
    const std::size_t queued = outgoing_.queuedBytes();
    if (queued > backlogCeiling * backlogLimit_) {
        if (backlogHandler_) backlogHandler_(Backlog::overflowed, queued);
        cancelNow();
        return;
    }
    if (backlogged_.load() || queued <= backlogLimit_) return;
    backlogged_.store(true);
    if (backlogHandler_) backlogHandler_(Backlog::over, queued);
}

// A completion is always posted, so that it never runs inside the send that gave the item.
void TlsConnection::refuse(OutgoingQueue::Item item, const std::string& why) {
    if (!item.completed) return;
    asio::post(stream_.get_executor(), [completed = std::move(item.completed), why] { completed(fail(why)); });
}

void TlsConnection::abandonOutgoing() {
    for (auto& item : outgoing_.clear()) refuse(std::move(item), endedBeforeSent);
}

// The front item goes out a slice at a time, each slice counted once the peer has taken it. Its
// bytes stay where they are until it is popped; a shared message is also held by the write
// itself, so it outlives a connection that ends meanwhile.
void TlsConnection::writeFront() {
    const OutgoingQueue::Item& item = outgoing_.front();
    const auto data = item.data();
    if (frontWritten_ >= data.size()) {
        wrote({});
        return;
    }
    writing_ = true;
    const std::size_t length = std::min(data.size() - frontWritten_, largestWrite);
    const std::string_view slice(reinterpret_cast<const char*>(data.data()) + frontWritten_, length);
    stream_.asyncWriteSome(
        slice, [self = shared_from_this(), keep = item.shared](const std::error_code& error, std::size_t count) {
            self->writing_ = false;
            if (!self->isOver()) self->wroteSome(count, error);
        });
}

void TlsConnection::wroteSome(std::size_t count, const std::error_code& error) {
    frontWritten_ += count;
    writtenBytes_.fetch_add(count);
    if (error) wrote(error);
    else writeFront();
}

// A failed write ends the item and is told to its sender alone; the connection itself ends
// through its read side.
void TlsConnection::wrote(const std::error_code& error) {
    frontWritten_ = 0;
    OutgoingQueue::Item done = outgoing_.pop();
    if (done.completed) {
        Result<MonoTime> outcome = error ? Result<MonoTime>(fail(error.message())) : Result<MonoTime>(clock_->now());
        asio::post(stream_.get_executor(),
                   [completed = std::move(done.completed), outcome = std::move(outcome)] { completed(outcome); });
    }
    if (done.closeAfter) {
        closeGracefully();
        return;
    }
    if (backlogged_.load() && outgoing_.queuedBytes() < backlogLimit_ / 2) {
        backlogged_.store(false);
        if (backlogHandler_) backlogHandler_(Backlog::drained, outgoing_.queuedBytes());
        if (isOver()) return;
        resumeReading();
    }
    if (!outgoing_.empty()) writeFront();
}

// The peer is told the stream ends (TLS close_notify) before the socket closes, so it reads
// the last reply as a clean end rather than a broken connection. A peer that does not answer
// the close within closeTimeout is cut.
void TlsConnection::closeGracefully() {
    shuttingDown_ = true;
    closing_.store(true);
    abandonOutgoing();
    waitingReceive_.reset();
    clock_->scheduleAfter(closeTimeout, [weak = weak_from_this()] {
        if (auto self = weak.lock()) asio::post(self->stream_.get_executor(), [self] { self->cancelNow(); });
    });
    if (reading_) {
        // The read in flight completes as cancelled and starts the close from there.
        std::error_code ignored;
        stream_.socket().cancel(ignored);
        return;
    }
    shutDownTls();
}

void TlsConnection::shutDownTls() {
    stream_.asyncShutdown([self = shared_from_this()](const std::error_code&) { self->cancelNow(); });
}

void TlsConnection::cancel() {
    closing_.store(true);
    const auto executor = stream_.get_executor();
    const auto* queue = executor.target<asio::io_context::executor_type>();
    if (queue && queue->running_in_this_thread()) {
        cancelNow();
        return;
    }
    asio::post(stream_.get_executor(), [self = shared_from_this()] { self->cancelNow(); });
}

void TlsConnection::cancelNow() {
    if (isOver()) return;
    state_ = State::cancelled;
    closing_.store(true);
    waitingReceive_.reset();
    abandonOutgoing();
    closeSocket();
    // Reported from the queue, never from inside the caller: whoever cancels (a stop, a reply
    // that closes) finishes its own work before the end is handled.
    asio::post(stream_.get_executor(), [handler = std::exchange(stateHandler_, nullptr)] {
        if (handler) handler(State::cancelled, std::nullopt);
    });
    backlogHandler_ = nullptr;
}

void TlsConnection::closeSocket() {
    std::error_code ignored;
    stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
}

void TlsConnection::report(State state, std::optional<std::string> error) {
    if (!stateHandler_) return;
    if (state == State::failed || state == State::cancelled) {
        auto handler = std::exchange(stateHandler_, nullptr);
        backlogHandler_ = nullptr;
        handler(state, error);
        return;
    }
    stateHandler_(state, error);
}

}  // namespace quib
