#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>
#include <asio/ssl/stream.hpp>

#include "Runtime/Bytes.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// How phones reach the host: TCP with TLS 1.3 keyed by pre-shared keys, no certificates.
//
// The listener's key is derived from the pairing code (identity "quib"); the away listener has
// one random key per device. A TLS context is built once for a set of keys and never re-keyed:
// to change keys, build a new context and a new listener with it.
//
// Typical use:
//   auto params = QuibTransport::parameters({{QuibTransport::codeIdentity, key}}, true);
//   auto server = QuibTransport::serverContext(params);            // Result<shared_ptr<context>>
//   acceptor.async_accept([&](auto ec, tcp::socket s) {
//       QuibTransport::applyTcpOptions(s, params.tcp);              // ignore or log a failure
//       auto stream = std::make_shared<QuibTransport::Stream>(std::move(s), **server);
//       stream->async_handshake(asio::ssl::stream_base::server, ...);
//   });
//   auto client = QuibTransport::clientContext(QuibTransport::parameters(code, Derivation::current()));
//   QuibTransport::connect(stream, endpoint, clock, [](std::error_code ec) { ... });
struct QuibTransport {
    // One pre-shared key: the identity the client names in its handshake, and the key itself.
    struct Key {
        std::string identity;
        Bytes material;
        bool operator==(const Key&) const = default;
    };

    // Which label is mixed into a key derived from a pairing code.
    class Derivation {
    public:
        static Derivation current() { return Derivation(false, 0); }
        static Derivation legacy(int protocolVersion) { return Derivation(true, protocolVersion); }

        bool isLegacy() const { return legacy_; }
        int protocolVersion() const { return protocolVersion_; }  // 0 for the current derivation
        // The ASCII label hashed in front of the normalized code.
        std::string label() const;
        bool operator==(const Derivation&) const = default;

    private:
        Derivation(bool legacy, int protocolVersion) : legacy_(legacy), protocolVersion_(protocolVersion) {}
        bool legacy_;
        int protocolVersion_;
    };

    struct TcpOptions {
        bool noDelay = true;
        bool keepAlive = true;
        std::chrono::seconds keepAliveIdle{5};
        // How long an outgoing connection may take to become ready (TCP connect and TLS handshake).
        std::chrono::seconds connectionTimeout{10};
        bool operator==(const TcpOptions&) const = default;
    };

    // Everything a listener or an outgoing connection is built from.
    struct Parameters {
        std::vector<Key> keys;
        TcpOptions tcp;
        // Whether peer-to-peer links may be used. No Linux transport offers them; the flag is kept
        // as the caller chose it.
        bool includePeerToPeer = false;
    };

    // The identity of every key derived from a pairing code.
    static constexpr std::string_view codeIdentity = "quib";
    // The only cipher suite offered (0x1301). Being a TLS 1.3 suite, only TLS 1.3 is negotiated
    // even though the minimum protocol version allowed is TLS 1.2.
    static constexpr std::string_view cipherSuite = "TLS_AES_128_GCM_SHA256";
    static constexpr int minimumTlsVersion = 0x0303;

    using Stream = asio::ssl::stream<asio::ip::tcp::socket>;

    // The parameters for the given keys, in list order.
    static Parameters parameters(std::vector<Key> keys, bool peerToPeer);
    // The parameters with the single key derived from `pairingCode`, peer-to-peer on.
    static Parameters parameters(std::string_view pairingCode, const Derivation& derivation);

    // SHA-256 of the derivation's label followed by the normalized code: always 32 bytes, whatever
    // the code (it is not validated here).
    static Bytes pskData(std::string_view code, const Derivation& derivation);
    // 32 bytes from the secure random source; a failing source stops the process.
    static Bytes newRemoteKey();
    // Six symbols drawn uniformly from the pairing-code alphabet: always a valid code.
    static std::string newPairingCode();

    // A TLS context for accepting: the parameters' keys, looked up by exact identity.
    static Result<std::shared_ptr<asio::ssl::context>> serverContext(const Parameters& parameters);
    // A TLS context for connecting, offering the parameters' first key.
    static Result<std::shared_ptr<asio::ssl::context>> clientContext(const Parameters& parameters);

    // No-delay and keep-alive with the idle time, on a connected or accepted socket.
    // Takes any TCP socket, including a stream's lowest layer.
    static Result<void> applyTcpOptions(asio::basic_socket<asio::ip::tcp>& socket, const TcpOptions& options);
    static Result<void> applyTcpOptions(asio::basic_socket<asio::ip::tcp>& socket);

    // Connects the stream to `endpoint`, applies the TCP options and makes the client handshake.
    // `done` runs once on the stream's executor (which must be serial): with no error when the
    // stream is ready, with asio::error::timed_out when the connection timeout passed first
    // (the socket is then closed). The timeout runs on `clock`, which must outlive the attempt.
    static void connect(Stream& stream, const asio::ip::tcp::endpoint& endpoint, Clock& clock,
                        std::function<void(std::error_code)> done, const TcpOptions& options);
    static void connect(Stream& stream, const asio::ip::tcp::endpoint& endpoint, Clock& clock,
                        std::function<void(std::error_code)> done);
};

}  // namespace quib

template <>
struct std::hash<quib::QuibTransport::Key> {
    std::size_t operator()(const quib::QuibTransport::Key& key) const noexcept;
};
