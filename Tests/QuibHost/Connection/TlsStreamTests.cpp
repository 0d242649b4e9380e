#include "QuibHost/Connection/TlsStream.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/ssl/error.hpp>
#include <asio/write.hpp>

#include "QuibHost/Connection/NetworkQueue.hpp"
#include "Runtime/FakeClock.hpp"
#include "Shared/QuibTransport.hpp"
#include "Tests/Support/Eventually.hpp"

using namespace std::chrono_literals;
using quib::QuibTransport;

namespace {

std::shared_ptr<asio::ssl::context> clientContext(std::string_view code) {
    return *QuibTransport::clientContext(QuibTransport::parameters(code, QuibTransport::Derivation::current()));
}

// A phone's end: asio's own TLS stream, blocking unless its io_context is run.
struct Client {
    explicit Client(std::string_view code) : context(clientContext(code)), stream(io, *context) {}
    asio::io_context io;
    std::shared_ptr<asio::ssl::context> context;
    QuibTransport::Stream stream;
};

// Bytes that show where they were cut or reordered.
std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed + i / 251) % 256);
    return bytes;
}

template <typename T>
T within(std::future<T> future) {
    if (future.wait_for(20s) != std::future_status::ready) {
        ADD_FAILURE() << "the operation never completed";
        return T();
    }
    return future.get();
}

struct Received {
    std::string bytes;
    std::error_code error;
};

// Network queue: reads until `count` bytes have come or the stream ends.
void readUntil(quib::TlsStream& stream, std::size_t count, std::shared_ptr<Received> got,
               std::shared_ptr<std::promise<Received>> done) {
    stream.asyncReadSome(quib::TlsStream::largestRead,
                         [&stream, count, got, done](const std::error_code& error, std::string_view bytes) {
                             got->bytes.append(bytes);
                             got->error = error;
                             if (error || got->bytes.size() >= count) done->set_value(*got);
                             else readUntil(stream, count, got, done);
                         });
}

struct Written {
    std::error_code error;
    int partial = 0;  // writes that took fewer bytes than they were given
};

// Network queue: writes every byte of `bytes`, which must outlive the writing.
void writeAll(quib::TlsStream& stream, std::string_view bytes, std::shared_ptr<Written> state,
              std::shared_ptr<std::promise<Written>> done) {
    stream.asyncWriteSome(bytes, [&stream, bytes, state, done](const std::error_code& error, std::size_t count) {
        if (!error && count < bytes.size()) ++state->partial;
        state->error = error;
        if (error || count >= bytes.size()) done->set_value(*state);
        else writeAll(stream, bytes.substr(count), state, done);
    });
}

class TlsStream : public ::testing::Test {
protected:
    void TearDown() override {
        (void)network->sync([&] { servers.clear(); });
        network->shutdown();
    }

    // The server's end of a connection from `client`, not yet shaken hands.
    quib::TlsStream& accept(Client& client) {
        client.stream.lowest_layer().connect(acceptor.local_endpoint());
        servers.push_back(std::make_unique<quib::TlsStream>(acceptor.accept(), *serverContext));
        return *servers.back();
    }

    // Both ends shake hands; the server's outcome.
    std::error_code handshake(quib::TlsStream& server, Client& client) {
        std::promise<std::error_code> done;
        (void)network->sync(
            [&] { server.asyncHandshake([&](const std::error_code& error) { done.set_value(error); }); });
        std::error_code ignored;
        client.stream.handshake(asio::ssl::stream_base::client, ignored);
        return within(done.get_future());
    }

    std::future<Received> read(quib::TlsStream& server, std::size_t count) {
        auto done = std::make_shared<std::promise<Received>>();
        (void)network->sync([&] { readUntil(server, count, std::make_shared<Received>(), done); });
        return done->get_future();
    }

    std::future<Written> write(quib::TlsStream& server, std::string_view bytes) {
        auto done = std::make_shared<std::promise<Written>>();
        (void)network->sync([&] { writeAll(server, bytes, std::make_shared<Written>(), done); });
        return done->get_future();
    }

    std::shared_ptr<quib::FakeClock> clock = std::make_shared<quib::FakeClock>();
    std::shared_ptr<quib::NetworkQueue> network = quib::NetworkQueue::create("test.net", clock);
    std::shared_ptr<asio::ssl::context> serverContext =
        *QuibTransport::serverContext(QuibTransport::parameters("ABCDEF", QuibTransport::Derivation::current()));
    asio::ip::tcp::acceptor acceptor{network->context(), {asio::ip::make_address("127.0.0.1"), 0}};
    std::vector<std::unique_ptr<quib::TlsStream>> servers;
};

}  // namespace

TEST_F(TlsStream, ShakesHandsAndCarriesBytesBothWaysCompletingOnTheQueueAfterTheCall) {
    Client client("ABCDEF");
    quib::TlsStream& server = accept(client);
    std::promise<std::error_code> shook;
    bool started = false, insideTheCall = false, onTheQueue = false;
    (void)network->sync([&] {
        server.asyncHandshake([&](const std::error_code& error) {
            insideTheCall = !started;
            onTheQueue = network->isCurrent();
            shook.set_value(error);
        });
        started = true;
    });
    client.stream.handshake(asio::ssl::stream_base::client);
    const std::error_code error = within(shook.get_future());
    ASSERT_FALSE(error) << error.message();
    EXPECT_FALSE(insideTheCall);
    EXPECT_TRUE(onTheQueue);

    for (const std::size_t size : {std::size_t{1}, std::size_t{1000}, std::size_t{100000}}) {
        const std::string sent = pattern(size, static_cast<unsigned>(size));
        auto received = read(server, size);
        asio::write(client.stream, asio::buffer(sent));
        const Received got = within(std::move(received));
        ASSERT_FALSE(got.error) << got.error.message();
        ASSERT_EQ(got.bytes, sent);

        auto written = write(server, got.bytes);
        std::string echoed(size, '\0');
        asio::read(client.stream, asio::buffer(echoed));
        EXPECT_FALSE(within(std::move(written)).error);
        EXPECT_EQ(echoed, sent);
    }
}

TEST_F(TlsStream, ALargeWriteToASlowReaderArrivesWholeAndInOrder) {
    Client client("ABCDEF");
    client.stream.lowest_layer().open(asio::ip::tcp::v4());
    client.stream.lowest_layer().set_option(asio::socket_base::receive_buffer_size(16384));
    quib::TlsStream& server = accept(client);
    ASSERT_FALSE(handshake(server, client));

    const std::string sent = pattern(6 << 20, 7);
    auto written = write(server, sent);
    std::string received(sent.size(), '\0');
    for (std::size_t offset = 0, reads = 0; offset < received.size(); ++reads) {
        offset += client.stream.read_some(
            asio::buffer(received.data() + offset, std::min<std::size_t>(4096, received.size() - offset)));
        if (reads % 32 == 0) std::this_thread::sleep_for(1ms);
    }
    const Written outcome = within(std::move(written));
    EXPECT_FALSE(outcome.error) << outcome.error.message();
    EXPECT_GT(outcome.partial, 0) << "the socket never filled";
    EXPECT_TRUE(received == sent);
}

TEST_F(TlsStream, CloseNotifyReadsAsTheEndAndABareCloseAsTruncated) {
    Client polite("ABCDEF");
    quib::TlsStream& told = accept(polite);
    ASSERT_FALSE(handshake(told, polite));
    auto received = read(told, 1);
    std::error_code clientClosed = asio::error::would_block;
    polite.stream.async_shutdown([&](const std::error_code& error) { clientClosed = error; });
    std::thread closing([&] { polite.io.run(); });
    EXPECT_EQ(within(std::move(received)).error, asio::error::eof);
    std::promise<std::error_code> closed;
    (void)network->sync([&] { told.asyncShutdown([&](const std::error_code& error) { closed.set_value(error); }); });
    EXPECT_FALSE(within(closed.get_future()));
    closing.join();
    EXPECT_FALSE(clientClosed) << "both close_notify were exchanged";

    Client abrupt("ABCDEF");
    quib::TlsStream& cut = accept(abrupt);
    ASSERT_FALSE(handshake(cut, abrupt));
    received = read(cut, 1);
    abrupt.stream.lowest_layer().close();
    EXPECT_EQ(within(std::move(received)).error, asio::ssl::error::stream_truncated);
}

// The error is the one asio's own stream reports for the same handshake, so log lines and
// what the phone's owner is told stay the same.
TEST_F(TlsStream, AWrongKeyFailsTheHandshakeWithAsiosError) {
    Client stranger("ZZZZZZ");
    quib::TlsStream& server = accept(stranger);
    const std::error_code ours = handshake(server, stranger);
    ASSERT_TRUE(ours);

    Client other("ZZZZZZ");
    other.stream.lowest_layer().connect(acceptor.local_endpoint());
    QuibTransport::Stream asios(acceptor.accept(), *serverContext);
    std::promise<std::error_code> theirs;
    (void)network->sync([&] {
        asios.async_handshake(asio::ssl::stream_base::server,
                              [&](const std::error_code& error) { theirs.set_value(error); });
    });
    std::error_code ignored;
    other.stream.handshake(asio::ssl::stream_base::client, ignored);
    const std::error_code expected = within(theirs.get_future());
    EXPECT_EQ(ours, expected) << ours.message() << " / " << expected.message();
    EXPECT_EQ(ours.message(), expected.message());
    (void)network->sync([&] { asios.lowest_layer().close(); });
}

TEST_F(TlsStream, CancellingCompletesAWaitingReadAndWriteAsAbortedOnceEach) {
    Client client("ABCDEF");
    client.stream.lowest_layer().open(asio::ip::tcp::v4());
    client.stream.lowest_layer().set_option(asio::socket_base::receive_buffer_size(16384));
    quib::TlsStream& server = accept(client);
    ASSERT_FALSE(handshake(server, client));

    // The peer reads nothing, so the write soon waits for room, and the read for bytes.
    const std::string bytes = pattern(64 << 20, 3);
    std::atomic<int> reads{0}, writes{0};
    std::atomic<bool> readAborted{false}, writeAborted{false};
    const auto writeMore = [&] {
        server.asyncWriteSome(bytes, [&](const std::error_code& error, std::size_t) {
            writeAborted = error == asio::error::operation_aborted;
            ++writes;
        });
    };
    (void)network->sync([&] {
        server.asyncReadSome(100, [&](const std::error_code& error, std::string_view) {
            readAborted = error == asio::error::operation_aborted;
            ++reads;
        });
        writeMore();
    });
    // Each write takes what room there is; once the kernel's buffers are full, one waits.
    for (int tries = 0;; ++tries) {
        ASSERT_TRUE(quib::testing::eventually([&] { return writes.load() == 1; }, 5s));
        writes = 0;
        (void)network->sync(writeMore);
        std::this_thread::sleep_for(100ms);
        if (writes.load() == 0) break;
        ASSERT_LT(tries, 50) << "the socket never filled";
    }
    EXPECT_EQ(reads.load(), 0);

    (void)network->sync([&] { server.socket().cancel(); });
    ASSERT_TRUE(quib::testing::eventually([&] { return reads.load() == 1 && writes.load() == 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(reads.load(), 1);
    EXPECT_EQ(writes.load(), 1);
    EXPECT_TRUE(readAborted);
    EXPECT_TRUE(writeAborted);
}

// The phone asks for new keys both ways while the host's write waits on a full socket and its
// read goes on: the host answers with its own key update, and no byte is lost either way.
TEST_F(TlsStream, APeersKeyUpdateInTheMiddleOfATransferBothWays) {
    Client client("ABCDEF");
    client.stream.lowest_layer().open(asio::ip::tcp::v4());
    client.stream.lowest_layer().set_option(asio::socket_base::receive_buffer_size(65536));
    quib::TlsStream& server = accept(client);
    ASSERT_FALSE(handshake(server, client));
    int keyUpdatesHeard = 0;
    SSL_set_msg_callback_arg(client.stream.native_handle(), &keyUpdatesHeard);
    SSL_set_msg_callback(client.stream.native_handle(),
                         [](int written, int, int type, const void* message, std::size_t length, SSL*, void* heard) {
                             if (!written && type == SSL3_RT_HANDSHAKE && length > 0 &&
                                 *static_cast<const unsigned char*>(message) == SSL3_MT_KEY_UPDATE) {
                                 ++*static_cast<int*>(heard);
                             }
                         });

    const std::string up = pattern(4 << 20, 11), down = pattern(16 << 20, 13);
    auto received = read(server, up.size());
    auto written = write(server, down);
    for (std::size_t offset = 0; offset < up.size(); offset += 65536) {
        if (offset == up.size() / 2) {
            ASSERT_EQ(SSL_key_update(client.stream.native_handle(), SSL_KEY_UPDATE_REQUESTED), 1);
        }
        asio::write(client.stream, asio::buffer(up.data() + offset, 65536));
    }
    // The host has read the request while its write still waits for room, which the phone
    // makes only now: the rest of the write must carry the host's new keys.
    const Received upward = within(std::move(received));
    EXPECT_FALSE(upward.error) << upward.error.message();
    EXPECT_TRUE(upward.bytes == up);
    ASSERT_EQ(written.wait_for(0s), std::future_status::timeout) << "the socket never filled";
    std::string got(down.size(), '\0');
    asio::read(client.stream, asio::buffer(got));
    EXPECT_FALSE(within(std::move(written)).error);
    EXPECT_TRUE(got == down);
    EXPECT_EQ(keyUpdatesHeard, 1);
}
