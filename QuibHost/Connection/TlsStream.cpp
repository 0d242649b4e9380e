#include "QuibHost/Connection/TlsStream.hpp"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>

#include <openssl/err.h>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/ssl/error.hpp>

namespace quib {

namespace {

// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE on a connection the peer
// has reset; this one sends with MSG_NOSIGNAL, so a broken connection is an error like any other.
int descriptorOf(BIO* bio) { return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio))); }

void noteRetry(BIO* bio, ssize_t result, bool reading) {
    BIO_clear_retry_flags(bio);
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        if (reading) BIO_set_retry_read(bio);
        else BIO_set_retry_write(bio);
    }
}

int socketWrite(BIO* bio, const char* data, int length) {
    const ssize_t sent = ::send(descriptorOf(bio), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    noteRetry(bio, sent, false);
    return static_cast<int>(sent);
}

int socketRead(BIO* bio, char* data, int length) {
    if (data == nullptr) return 0;
    const ssize_t received = ::recv(descriptorOf(bio), data, static_cast<std::size_t>(length), 0);
    noteRetry(bio, received, true);
    return static_cast<int>(received);
}

long socketControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int socketCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* socketMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "socket without SIGPIPE");
        if (made == nullptr) return made;
        BIO_meth_set_write(made, socketWrite);
        BIO_meth_set_read(made, socketRead);
        BIO_meth_set_ctrl(made, socketControl);
        BIO_meth_set_create(made, socketCreate);
        return made;
    }();
    return method;
}

// Reads land here: one buffer per thread, and an idle connection holds none.
char* scratch() {
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(TlsStream::largestRead);
    return buffer.get();
}

// The error asio's TLS stream gives for an OpenSSL failure.
std::error_code sslError(unsigned long code) {
    if (ERR_GET_LIB(code) == ERR_LIB_SSL && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return asio::ssl::error::stream_truncated;
    return {static_cast<int>(code), asio::error::get_ssl_category()};
}

}  // namespace

TlsStream::TlsStream(asio::ip::tcp::socket socket, asio::ssl::context& context)
    : socket_(std::move(socket)), ssl_(SSL_new(context.native_handle())) {
    std::error_code ignored;
    socket_.non_blocking(true, ignored);
    if (!ssl_) return;
    BIO* bio = socketMethod() != nullptr ? BIO_new(socketMethod()) : nullptr;
    if (bio == nullptr) {
        ssl_.reset();
        return;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(socket_.native_handle())));
    SSL_set_bio(ssl_.get(), bio, bio);
    SSL_set_mode(ssl_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_set_accept_state(ssl_.get());
}

// Runs one OpenSSL call and tells what it waits for, or its outcome. A closed socket is never
// handed to OpenSSL: its descriptor may already belong to another connection.
template <typename Call>
TlsStream::Want TlsStream::perform(Call call, std::error_code& error) {
    if (!socket_.is_open()) {
        error = asio::error::operation_aborted;
        return Want::nothing;
    }
    if (!ssl_) {
        error = asio::error::no_memory;
        return Want::nothing;
    }
    ERR_clear_error();
    errno = 0;
    const int result = call();
    const int systemError = errno;
    switch (SSL_get_error(ssl_.get(), result)) {
        case SSL_ERROR_NONE: error.clear(); return Want::nothing;
        case SSL_ERROR_WANT_READ: return Want::read;
        case SSL_ERROR_WANT_WRITE: return Want::write;
        case SSL_ERROR_ZERO_RETURN: error = asio::error::eof; return Want::nothing;
        case SSL_ERROR_SYSCALL:
            if (const unsigned long code = ERR_get_error(); code != 0) error = sslError(code);
            else if (systemError != 0) error = std::error_code(systemError, std::system_category());
            else error = asio::ssl::error::stream_truncated;  // the peer closed TCP without close_notify
            return Want::nothing;
        default: error = sslError(ERR_get_error()); return Want::nothing;
    }
}

template <typename Retry>
void TlsStream::await(Want want, Retry retry) {
    socket_.async_wait(want == Want::read ? asio::socket_base::wait_read : asio::socket_base::wait_write,
                       std::move(retry));
}

std::uint64_t TlsStream::receivedBytes() const {
    if (!ssl_) return 0;
    BIO* bio = SSL_get_rbio(ssl_.get());
    return bio == nullptr ? 0 : BIO_number_read(bio);
}

void TlsStream::asyncHandshake(Handler handler) {
    asio::post(socket_.get_executor(), [this, handler = std::move(handler)]() mutable {
        exchange([this] { return SSL_accept(ssl_.get()); }, std::move(handler));
    });
}

// Calls `call` again each time the socket is ready for what it waits for, until it is done.
template <typename Call>
void TlsStream::exchange(Call call, Handler handler) {
    std::error_code error;
    const Want want = perform(call, error);
    if (want == Want::nothing) {
        handler(error);
        return;
    }
    await(want, [this, call, handler = std::move(handler)](const std::error_code& waited) mutable {
        if (waited) handler(waited);
        else exchange(call, std::move(handler));
    });
}

// Bytes OpenSSL already holds are read at once; otherwise the read starts when the socket is
// readable, so a waiting read borrows the thread's buffer only for the moment it reads.
void TlsStream::asyncReadSome(std::size_t maximum, ReadHandler handler) {
    maximum = std::clamp<std::size_t>(maximum, 1, largestRead);
    auto step = [this, maximum, handler = std::move(handler)](const std::error_code& waited) mutable {
        if (waited) handler(waited, {});
        else readStep(maximum, std::move(handler));
    };
    if (ssl_ && SSL_has_pending(ssl_.get()) == 1) {
        asio::post(socket_.get_executor(), [step = std::move(step)]() mutable { step({}); });
        return;
    }
    await(Want::read, std::move(step));
}

void TlsStream::readStep(std::size_t maximum, ReadHandler handler) {
    char* buffer = scratch();
    std::size_t count = 0;
    std::error_code error;
    const Want want = perform([&] { return SSL_read_ex(ssl_.get(), buffer, maximum, &count); }, error);
    if (want == Want::nothing) {
        handler(error, error ? std::string_view() : std::string_view(buffer, count));
        return;
    }
    await(want, [this, maximum, handler = std::move(handler)](const std::error_code& waited) mutable {
        if (waited) handler(waited, {});
        else readStep(maximum, std::move(handler));
    });
}

void TlsStream::asyncWriteSome(std::string_view bytes, WriteHandler handler) {
    asio::post(socket_.get_executor(),
               [this, bytes, handler = std::move(handler)]() mutable { writeStep(bytes, std::move(handler)); });
}

// OpenSSL writes one record a call; the step goes on until the socket is full or every byte is
// written, and reports what was written before a failure as written.
void TlsStream::writeStep(std::string_view bytes, WriteHandler handler) {
    std::size_t total = 0;
    std::error_code error;
    Want want = Want::nothing;
    while (total < bytes.size()) {
        std::size_t count = 0;
        want = perform([&] { return SSL_write_ex(ssl_.get(), bytes.data() + total, bytes.size() - total, &count); },
                       error);
        if (want != Want::nothing || error) break;
        total += count;
    }
    if (want == Want::nothing || total > 0) {
        handler(total > 0 ? std::error_code() : error, total);
        return;
    }
    await(want, [this, bytes, handler = std::move(handler)](const std::error_code& waited) mutable {
        if (waited) handler(waited, 0);
        else writeStep(bytes, std::move(handler));
    });
}

// The first call sends close_notify, the second waits for the peer's.
void TlsStream::asyncShutdown(Handler handler) {
    auto shutDown = [this] {
        const int sent = SSL_shutdown(ssl_.get());
        const int done = sent == 0 ? SSL_shutdown(ssl_.get()) : sent;
        return done == 0 ? -1 : done;
    };
    asio::post(socket_.get_executor(),
               [this, shutDown, handler = std::move(handler)]() mutable { exchange(shutDown, std::move(handler)); });
}

}  // namespace quib
