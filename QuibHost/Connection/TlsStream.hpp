#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <system_error>

#include <openssl/ssl.h>
#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>

namespace quib {

// The server side of TLS over one accepted TCP socket, with OpenSSL reading from and writing to
// the socket's descriptor itself: no intermediate buffers, and OpenSSL's record buffers given
// back while the connection is idle (the context's SSL_MODE_RELEASE_BUFFERS). Reads land in one
// scratch buffer of the thread that completes them, so an idle stream holds no read buffer.
//
// It runs on the socket's executor, which must be serial; every operation is started there and
// completes there, never inside the call that started it. One handshake, then at most one read
// and one write at a time, which may wait together; then shutdown. The stream must outlive
// every operation it has started (the handlers usually keep its owner alive).
//
// Errors keep the meanings of asio's TLS stream: the peer's close_notify reads as
// asio::error::eof, a TCP close without it as asio::ssl::error::stream_truncated, OpenSSL's
// own errors are in asio's ssl category, and cancelling or closing the socket completes what
// waits with asio::error::operation_aborted.
class TlsStream {
public:
    using Handler = std::function<void(const std::error_code& error)>;
    // The bytes stay valid only during the call.
    using ReadHandler = std::function<void(const std::error_code& error, std::string_view bytes)>;
    using WriteHandler = std::function<void(const std::error_code& error, std::size_t count)>;
    using executor_type = asio::ip::tcp::socket::executor_type;

    // The most one read returns: one TLS record's plaintext.
    static constexpr std::size_t largestRead = 16384;

    // The socket is made non-blocking. Without memory for an SSL object every operation fails.
    TlsStream(asio::ip::tcp::socket socket, asio::ssl::context& context);
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    executor_type get_executor() { return socket_.get_executor(); }
    asio::ip::tcp::socket& socket() { return socket_; }
    const asio::ip::tcp::socket& socket() const { return socket_; }
    SSL* native_handle() { return ssl_.get(); }
    // The bytes read from the peer so far, TLS records and all.
    std::uint64_t receivedBytes() const;

    void asyncHandshake(Handler handler);
    // Reads 1 to `maximum` bytes (at most largestRead).
    void asyncReadSome(std::size_t maximum, ReadHandler handler);
    // Writes some of `bytes`, whole TLS records, and tells how many. The bytes must stay valid
    // and unchanged until the handler runs.
    void asyncWriteSome(std::string_view bytes, WriteHandler handler);
    // Sends close_notify and waits for the peer's.
    void asyncShutdown(Handler handler);

private:
    struct FreeSsl {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };
    enum class Want { nothing, read, write };

    template <typename Call>
    Want perform(Call call, std::error_code& error);
    template <typename Call>
    void exchange(Call call, Handler handler);
    void readStep(std::size_t maximum, ReadHandler handler);
    void writeStep(std::string_view bytes, WriteHandler handler);
    template <typename Retry>
    void await(Want want, Retry retry);

    asio::ip::tcp::socket socket_;
    std::unique_ptr<SSL, FreeSsl> ssl_;
};

}  // namespace quib
