#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <openssl/ssl.h>

#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>

#include "Runtime/Clock.hpp"
#include "Runtime/FakeClock.hpp"
#include "Shared/Json.hpp"
#include "Shared/PairingCode.hpp"
#include "Shared/QuibTransport.hpp"

using quib::Bytes;
using quib::FakeClock;
using quib::QuibTransport;
using tcp = asio::ip::tcp;
using Derivation = QuibTransport::Derivation;

namespace {

std::string hex(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) out += {kDigits[b >> 4], kDigits[b & 15]};
    return out;
}

std::shared_ptr<asio::ssl::context> serverContext(const std::vector<QuibTransport::Key>& keys) {
    auto context = QuibTransport::serverContext(QuibTransport::parameters(keys, true));
    EXPECT_TRUE(context.ok());
    return *context;
}

QuibTransport::Key codeKey(const std::string& code) {
    return {std::string(QuibTransport::codeIdentity), QuibTransport::pskData(code, Derivation::current())};
}

struct Handshake {
    std::error_code error;
    int version = 0;
    std::string cipher;
};

Handshake describe(std::error_code error, SSL* ssl) {
    Handshake result;
    result.error = error;
    if (!error) {
        result.version = SSL_version(ssl);
        result.cipher = SSL_CIPHER_get_name(SSL_get_current_cipher(ssl));
    }
    return result;
}

// A TLS listener on 127.0.0.1 that answers one JSON line: a ping's nonce comes back in a pong.
class LoopbackListener {
public:
    LoopbackListener(asio::io_context& io, std::shared_ptr<asio::ssl::context> context, unsigned short port = 0)
        : acceptor_(io), context_(std::move(context)) {
        const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), port);
        acceptor_.open(endpoint.protocol());
        acceptor_.set_option(tcp::acceptor::reuse_address(true));
        acceptor_.bind(endpoint);
        acceptor_.listen();
        accept();
    }

    unsigned short port() const { return acceptor_.local_endpoint().port(); }
    const std::vector<Handshake>& handshakes() const { return handshakes_; }

private:
    struct Connection {
        QuibTransport::Stream stream;
        std::string buffer;
    };

    void accept() {
        acceptor_.async_accept([this](std::error_code error, tcp::socket socket) {
            if (error) return;
            EXPECT_TRUE(QuibTransport::applyTcpOptions(socket).ok());
            auto connection =
                std::make_shared<Connection>(Connection{QuibTransport::Stream(std::move(socket), *context_), {}});
            connection->stream.async_handshake(
                asio::ssl::stream_base::server, [this, connection](std::error_code error) {
                    handshakes_.push_back(describe(error, connection->stream.native_handle()));
                    if (!error) answer(connection);
                });
            accept();
        });
    }

    static void answer(const std::shared_ptr<Connection>& connection) {
        asio::async_read_until(connection->stream, asio::dynamic_buffer(connection->buffer), '\n',
                               [connection](std::error_code error, std::size_t length) {
                                   if (error) return;
                                   const auto ping = quib::Json::parse(connection->buffer.substr(0, length));
                                   auto reply = std::make_shared<std::string>(
                                       quib::Json{{"pong", {{"nonce", ping.at("ping").at("nonce")}}}}.dump() + "\n");
                                   asio::async_write(connection->stream, asio::buffer(*reply),
                                                     [connection, reply](std::error_code, std::size_t) {});
                               });
    }

    tcp::acceptor acceptor_;
    std::shared_ptr<asio::ssl::context> context_;
    std::vector<Handshake> handshakes_;
};

// Runs the loop until `done` holds; the limit only guards against a hanging test.
void runUntil(asio::io_context& io, const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < limit) io.run_one_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(done());
}

struct Exchange {
    Handshake handshake;
    std::string reply;
};

// Connects with `client`, sends one ping line and reads the answer line.
Exchange exchange(asio::io_context& io, asio::ssl::context& client, unsigned short port) {
    FakeClock clock;
    QuibTransport::Stream stream(io, client);
    std::string buffer;
    const std::string line = "{\"ping\":{\"nonce\":42}}\n";
    Exchange result;
    bool finished = false;
    QuibTransport::connect(stream, tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), clock,
                           [&](std::error_code error) {
                               result.handshake = describe(error, stream.native_handle());
                               if (error) {
                                   finished = true;
                                   return;
                               }
                               asio::async_write(stream, asio::buffer(line), [&](std::error_code error, std::size_t) {
                                   if (error) {
                                       finished = true;
                                       return;
                                   }
                                   asio::async_read_until(stream, asio::dynamic_buffer(buffer), '\n',
                                                          [&](std::error_code, std::size_t length) {
                                                              result.reply = buffer.substr(0, length);
                                                              finished = true;
                                                          });
                               });
                           });
    runUntil(io, [&] { return finished; });
    return result;
}

std::shared_ptr<asio::ssl::context> clientFor(const QuibTransport::Key& key) {
    auto context = QuibTransport::clientContext(QuibTransport::parameters({key}, true));
    EXPECT_TRUE(context.ok());
    return *context;
}

}  // namespace

TEST(QuibTransport, CurrentDerivationMatchesTheFixedVector) {
    EXPECT_EQ(hex(QuibTransport::pskData("ABCDEF", Derivation::current())),
              "240c96023d606a2fb32106e0ecd76c518721dd89e21d0cec16a402e037d10a5b");
    EXPECT_EQ(Derivation::current().label(), "tarn.kdf.a3:");
}

TEST(QuibTransport, LooselyTypedCodesDeriveTheSameKey) {
    const Bytes plain = QuibTransport::pskData("ABCDEF", Derivation::current());
    for (const char* typed : {"abc-def", "ABC_DEF", " a b c d e f ", "abc\tdef\n"})
        EXPECT_EQ(QuibTransport::pskData(typed, Derivation::current()), plain) << typed;
}

TEST(QuibTransport, AnyTextDerivesThirtyTwoBytesAndLegacyLabelsDiffer) {
    EXPECT_EQ(QuibTransport::pskData("", Derivation::current()).size(), 32u);
    EXPECT_EQ(QuibTransport::pskData("not a code at all \u00e9", Derivation::current()).size(), 32u);
    const Bytes current = QuibTransport::pskData("ABCDEF", Derivation::current());
    const Bytes legacy5 = QuibTransport::pskData("ABCDEF", Derivation::legacy(5));
    EXPECT_NE(legacy5, current);
    EXPECT_NE(legacy5, QuibTransport::pskData("ABCDEF", Derivation::legacy(6)));
    EXPECT_EQ(Derivation::legacy(23).label(), "tarn.kdf.v23:");
    EXPECT_EQ(Derivation::legacy(5), Derivation::legacy(5));
    EXPECT_NE(Derivation::legacy(5), Derivation::current());
}

TEST(QuibTransport, ParametersCarryTheKeysAndFixedSettings) {
    const auto empty = QuibTransport::parameters({}, false);
    EXPECT_TRUE(empty.keys.empty());
    EXPECT_FALSE(empty.includePeerToPeer);
    EXPECT_EQ(empty.tcp, QuibTransport::TcpOptions{});
    EXPECT_EQ(empty.tcp.keepAliveIdle, std::chrono::seconds(5));
    EXPECT_EQ(empty.tcp.connectionTimeout, std::chrono::seconds(10));

    const auto fromCode = QuibTransport::parameters("abc-def", Derivation::current());
    ASSERT_EQ(fromCode.keys.size(), 1u);
    EXPECT_EQ(fromCode.keys[0], codeKey("ABCDEF"));
    EXPECT_TRUE(fromCode.includePeerToPeer);

    // A context with no keys still builds, with the same protocol settings; it simply admits no one.
    auto context = QuibTransport::serverContext(empty);
    ASSERT_TRUE(context.ok());
    SSL_CTX* native = (*context)->native_handle();
    EXPECT_EQ(SSL_CTX_get_min_proto_version(native), TLS1_2_VERSION);
    EXPECT_EQ(SSL_CTX_get_num_tickets(native), 0u);
    EXPECT_TRUE(SSL_CTX_get_options(native) & SSL_OP_NO_TICKET);
    EXPECT_TRUE(SSL_CTX_get_options(native) & SSL_OP_ALLOW_NO_DHE_KEX);
    EXPECT_FALSE(QuibTransport::clientContext(empty).ok());
}

TEST(QuibTransport, NewRemoteKeysAreThirtyTwoFreshBytes) {
    const Bytes a = QuibTransport::newRemoteKey();
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, QuibTransport::newRemoteKey());
}

TEST(QuibTransport, NewPairingCodesAreValidAndUseTheWholeAlphabet) {
    std::set<char> seen;
    for (int i = 0; i < 500; ++i) {
        const std::string code = QuibTransport::newPairingCode();
        ASSERT_EQ(code.size(), 6u);
        ASSERT_TRUE(quib::PairingCode::isValid(code)) << code;
        seen.insert(code.begin(), code.end());
    }
    // 3000 draws over 32 symbols: a symbol that never comes up means a skewed draw.
    EXPECT_EQ(seen.size(), quib::PairingCode::alphabet.size());
}

TEST(QuibTransport, PairingCodeKeyHandshakesTls13AndExchangesALine) {
    asio::io_context io;
    LoopbackListener listener(io, serverContext({codeKey("K7PQ2M")}));
    auto client = clientFor(codeKey("k7p-q2m"));

    const Exchange result = exchange(io, *client, listener.port());
    ASSERT_FALSE(result.handshake.error) << result.handshake.error.message();
    EXPECT_EQ(result.handshake.version, TLS1_3_VERSION);
    EXPECT_EQ(result.handshake.cipher, "TLS_AES_128_GCM_SHA256");
    EXPECT_EQ(result.reply, "{\"pong\":{\"nonce\":42}}\n");
    ASSERT_EQ(listener.handshakes().size(), 1u);
    EXPECT_EQ(listener.handshakes()[0].version, TLS1_3_VERSION);
    EXPECT_EQ(listener.handshakes()[0].cipher, "TLS_AES_128_GCM_SHA256");
}

TEST(QuibTransport, WrongCodeUnknownIdentityAndTls12AreRefused) {
    asio::io_context io;
    const QuibTransport::Key away{"quib.away.1.PHONE-A", QuibTransport::newRemoteKey()};
    LoopbackListener listener(io, serverContext({codeKey("K7PQ2M"), away}));

    EXPECT_TRUE(exchange(io, *clientFor(codeKey("K7PQ2N")), listener.port()).handshake.error);
    EXPECT_TRUE(exchange(io, *clientFor({"quib.away.1.PHONE-B", away.material}), listener.port()).handshake.error);
    // The identity must match exactly, not by prefix.
    EXPECT_TRUE(exchange(io, *clientFor({"quib.away.1.PHONE-A ", away.material}), listener.port()).handshake.error);
    auto tls12 = clientFor(codeKey("K7PQ2M"));
    SSL_CTX_set_max_proto_version(tls12->native_handle(), TLS1_2_VERSION);
    EXPECT_TRUE(exchange(io, *tls12, listener.port()).handshake.error);
    runUntil(io, [&] { return listener.handshakes().size() == 4; });
    for (const Handshake& h : listener.handshakes()) EXPECT_TRUE(h.error) << h.error.message();

    // The second key of the list is found as well as the first.
    EXPECT_FALSE(exchange(io, *clientFor(away), listener.port()).handshake.error);
}

TEST(QuibTransport, ListenerRebuiltOnTheSamePortTakesOnlyTheNewKey) {
    asio::io_context io;
    auto first = std::make_unique<LoopbackListener>(io, serverContext({codeKey("K7PQ2M")}));
    const unsigned short port = first->port();
    EXPECT_FALSE(exchange(io, *clientFor(codeKey("K7PQ2M")), port).handshake.error);
    first.reset();

    LoopbackListener second(io, serverContext({codeKey("XY3ZW9")}), port);
    EXPECT_FALSE(exchange(io, *clientFor(codeKey("XY3ZW9")), port).handshake.error);
    EXPECT_TRUE(exchange(io, *clientFor(codeKey("K7PQ2M")), port).handshake.error);
}

TEST(QuibTransport, TcpOptionsAreAppliedToTheSocket) {
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    tcp::socket socket(io);
    socket.connect(acceptor.local_endpoint());
    ASSERT_TRUE(QuibTransport::applyTcpOptions(socket).ok());

    auto option = [&](int level, int name) {
        int value = -1;
        socklen_t length = sizeof value;
        EXPECT_EQ(getsockopt(socket.native_handle(), level, name, &value, &length), 0);
        return value;
    };
    EXPECT_NE(option(IPPROTO_TCP, TCP_NODELAY), 0);
    EXPECT_NE(option(SOL_SOCKET, SO_KEEPALIVE), 0);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 5);
}

TEST(QuibTransport, ConnectGivesUpWhenTheConnectionTimeoutPasses) {
    asio::io_context io;
    // A peer that accepts TCP but never answers the TLS handshake.
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    tcp::socket silent(io);
    bool accepted = false;
    acceptor.async_accept(silent, [&](std::error_code) { accepted = true; });

    FakeClock clock;
    auto client = clientFor(codeKey("K7PQ2M"));
    QuibTransport::Stream stream(io, *client);
    std::optional<std::error_code> outcome;
    QuibTransport::connect(stream, acceptor.local_endpoint(), clock, [&](std::error_code error) { outcome = error; });
    runUntil(io, [&] { return accepted; });
    io.poll();

    clock.advance(std::chrono::seconds(9));
    io.poll();
    EXPECT_FALSE(outcome.has_value());
    clock.advance(std::chrono::seconds(1));
    runUntil(io, [&] { return outcome.has_value(); });
    EXPECT_EQ(*outcome, std::error_code(asio::error::timed_out));
    EXPECT_FALSE(stream.lowest_layer().is_open());
}
