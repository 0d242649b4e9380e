#include "QuibHost/Connection/TlsListener.hpp"

#include <asio/error.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>

#include "Runtime/Logger.hpp"

namespace quib {

Result<std::shared_ptr<TlsListener>> TlsListener::create(asio::io_context& io,
                                                         const QuibTransport::Parameters& parameters,
                                                         const asio::ip::address& bindAddress, std::uint16_t port,
                                                         std::shared_ptr<Clock> clock) {
    auto context = QuibTransport::serverContext(parameters);
    if (!context) return context.error();
    auto listener = std::make_shared<TlsListener>(io, *context, parameters.tcp, std::move(clock));
    const asio::ip::tcp::endpoint endpoint(bindAddress, port);
    auto& acceptor = listener->acceptor_;
    std::error_code error;
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
    if (!error && bindAddress.is_v6()) acceptor.set_option(asio::ip::v6_only(false), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) return quib::fail(error.message());
    listener->port_ = acceptor.local_endpoint(error).port();
    return listener;
}

TlsListener::TlsListener(asio::io_context& io, std::shared_ptr<asio::ssl::context> context,
                         QuibTransport::TcpOptions tcp, std::shared_ptr<Clock> clock)
    : acceptor_(io), context_(std::move(context)), tcp_(tcp), clock_(std::move(clock)) {}

void TlsListener::start() {
    if (state_ != State::setup) return;
    state_ = State::ready;
    postReport(State::ready, std::nullopt);
    armAccept();
}

void TlsListener::setNewConnectionLimit(int limit) {
    limit_ = std::max(limit, 0);
    if (limit_ > 0 && waiting_ && !delivering_) {
        asio::ip::tcp::socket socket = std::move(*waiting_);
        waiting_.reset();
        deliver(std::move(socket));
    }
    armAccept();
}

void TlsListener::armAccept() {
    if (state_ != State::ready || accepting_ || waiting_ || limit_ <= 0 || backingOff_) return;
    accepting_ = true;
    acceptor_.async_accept([self = shared_from_this()](const std::error_code& error, asio::ip::tcp::socket socket) {
        self->accepted(error, std::move(socket));
    });
}

void TlsListener::accepted(const std::error_code& error, asio::ip::tcp::socket socket) {
    accepting_ = false;
    if (state_ != State::ready) return;
    if (error) {
        // A peer that gave up while queued: keep listening.
        if (error == asio::error::connection_aborted || error == asio::error::interrupted ||
            error == asio::error::try_again) {
            armAccept();
            return;
        }
        // A shortage that trying again at once would only repeat, spinning a core.
        if (error == asio::error::no_descriptors || error == asio::error::no_buffer_space ||
            error == std::errc::too_many_files_open_in_system || error == asio::error::no_memory) {
            backOff(error);
            return;
        }
        fail(error);
        return;
    }
    if (backOff_) {
        quibLog().info("The listener on port ", port_, " takes connections again");
        backOff_.reset();
    }
    (void)QuibTransport::applyTcpOptions(socket, tcp_);
    if (limit_ > 0) deliver(std::move(socket));
    else waiting_.emplace(std::move(socket));
    armAccept();
}

void TlsListener::backOff(const std::error_code& error) {
    if (!backOff_) {
        backOff_ = firstBackOff;
        quibLog().error("The listener on port ", port_, " cannot take connections (", pub(error.message()),
                        "); trying again in ", std::chrono::duration_cast<std::chrono::milliseconds>(*backOff_).count(),
                        " ms");
    } else {
        backOff_ = std::min<Duration>(*backOff_ * 2, longestBackOff);
    }
    backingOff_ = true;
    clock_->scheduleAfter(*backOff_, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        asio::post(self->acceptor_.get_executor(), [self] {
            self->backingOff_ = false;
            self->armAccept();
        });
    });
}

void TlsListener::deliver(asio::ip::tcp::socket socket) {
    limit_ = std::max(limit_ - 1, 0);
    auto connection = std::make_shared<TlsConnection>(std::move(socket), context_, clock_);
    if (!connectionHandler_) return;
    delivering_ = true;
    connectionHandler_(std::move(connection));
    delivering_ = false;
}

void TlsListener::cancel() {
    if (state_ == State::cancelled || state_ == State::failed) return;
    state_ = State::cancelled;
    std::error_code ignored;
    acceptor_.close(ignored);
    waiting_.reset();
    connectionHandler_ = nullptr;
    postReport(State::cancelled, std::nullopt);
}

void TlsListener::fail(const std::error_code& error) {
    state_ = State::failed;
    std::error_code ignored;
    acceptor_.close(ignored);
    waiting_.reset();
    connectionHandler_ = nullptr;
    postReport(State::failed, error.message());
}

void TlsListener::postReport(State state, std::optional<std::string> error) {
    const bool final = state == State::failed || state == State::cancelled;
    StateHandler handler = final ? std::exchange(stateHandler_, nullptr) : stateHandler_;
    if (!handler) return;
    asio::post(acceptor_.get_executor(),
               [handler = std::move(handler), state, error = std::move(error)] { handler(state, error); });
}

}  // namespace quib
