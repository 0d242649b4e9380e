#include "Shared/QuibTransport.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>

#include <asio/post.hpp>

#include "Runtime/SecureRandom.hpp"
#include "Shared/PairingCode.hpp"

namespace quib {
namespace {

// ---- Keys and codes -----------------------------------------------------------------------

// The legacy label is this prefix, the protocol version in decimal and a colon.
constexpr std::string_view kLegacyLabelPrefix = "tarn.kdf.v";
constexpr std::string_view kCurrentLabel = "tarn.kdf.a3:";

Bytes sha256(std::string_view data) {
    Bytes digest(32);
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 || length != 32) {
        std::fprintf(stderr, "SHA-256 digest failed\n");
        std::abort();
    }
    return digest;
}

// A uniform index below `bound`, drawn by rejection so that no value is favoured.
std::size_t uniformIndex(std::uint32_t bound) {
    const std::uint64_t range = std::uint64_t{1} << 32;
    const std::uint64_t limit = range - range % bound;  // accept draws below a multiple of bound
    for (;;) {
        const Bytes b = secureRandomBytes(4);
        const std::uint64_t draw =
            std::uint64_t{b[0]} | std::uint64_t{b[1]} << 8 | std::uint64_t{b[2]} << 16 | std::uint64_t{b[3]} << 24;
        if (draw < limit) return static_cast<std::size_t>(draw % bound);
    }
}

// ---- TLS contexts -------------------------------------------------------------------------

// The keys a context offers or accepts. Owned by the SSL_CTX through its ex_data, so the table
// lives exactly as long as the context does, even while a handshake outlives the asio wrapper.
struct PskTable {
    std::vector<QuibTransport::Key> keys;
};

void freePskTable(void*, void* table, CRYPTO_EX_DATA*, int, long, void*) {
    std::unique_ptr<PskTable> owned(static_cast<PskTable*>(table));
}

int pskTableIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, freePskTable);
    return index;
}

const PskTable* pskTableOf(SSL* ssl) {
    return static_cast<const PskTable*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), pskTableIndex()));
}

// A session carrying one external pre-shared key for TLS_AES_128_GCM_SHA256 under TLS 1.3.
SSL_SESSION* newPskSession(SSL* ssl, const Bytes& material) {
    static constexpr unsigned char kSuite[] = {0x13, 0x01};
    const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, kSuite);
    std::unique_ptr<SSL_SESSION, decltype(&SSL_SESSION_free)> session(SSL_SESSION_new(), SSL_SESSION_free);
    if (cipher == nullptr || !session ||
        SSL_SESSION_set1_master_key(session.get(), material.data(), material.size()) != 1 ||
        SSL_SESSION_set_cipher(session.get(), cipher) != 1 ||
        SSL_SESSION_set_protocol_version(session.get(), TLS1_3_VERSION) != 1)
        return nullptr;
    return session.release();
}

// Server side: the key whose identity matches the client's bytes exactly. An unknown identity
// gives no session, which fails the handshake.
int findPskSession(SSL* ssl, const unsigned char* identity, std::size_t length, SSL_SESSION** session) {
    *session = nullptr;
    const PskTable* table = pskTableOf(ssl);
    if (table == nullptr) return 1;
    const std::string_view wanted(reinterpret_cast<const char*>(identity), length);
    for (const QuibTransport::Key& key : table->keys) {
        if (key.identity != wanted) continue;
        *session = newPskSession(ssl, key.material);
        return *session != nullptr ? 1 : 0;
    }
    return 1;
}

// Client side: offer the first key, unless the server already chose a suite with another hash.
int usePskSession(SSL* ssl, const EVP_MD* digest, const unsigned char** identity, std::size_t* length,
                  SSL_SESSION** session) {
    *session = nullptr;
    const PskTable* table = pskTableOf(ssl);
    if (table == nullptr || table->keys.empty()) return 1;
    const QuibTransport::Key& key = table->keys.front();
    SSL_SESSION* offered = newPskSession(ssl, key.material);
    if (offered == nullptr) return 0;
    if (digest != nullptr && digest != SSL_CIPHER_get_handshake_digest(SSL_SESSION_get0_cipher(offered))) {
        SSL_SESSION_free(offered);
        return 1;
    }
    *identity = reinterpret_cast<const unsigned char*>(key.identity.data());
    *length = key.identity.size();
    *session = offered;
    return 1;
}

// A context with the protocol settings both sides share and the keys attached.
Result<std::shared_ptr<asio::ssl::context>> makeContext(asio::ssl::context::method method,
                                                        std::vector<QuibTransport::Key> keys) {
    std::shared_ptr<asio::ssl::context> context;
    try {
        context = std::make_shared<asio::ssl::context>(method);
    } catch (const std::exception& error) {
        return fail(std::string("Could not create the TLS context: ") + error.what());
    }
    SSL_CTX* native = context->native_handle();
    // Asio sets its own minimum for the method; set ours again.
    if (SSL_CTX_set_min_proto_version(native, QuibTransport::minimumTlsVersion) != 1 ||
        SSL_CTX_set_ciphersuites(native, std::string(QuibTransport::cipherSuite).c_str()) != 1)
        return fail("Could not configure the TLS context");
    SSL_CTX_set_verify(native, SSL_VERIFY_NONE, nullptr);

    auto table = std::make_unique<PskTable>(PskTable{std::move(keys)});
    if (pskTableIndex() < 0 || SSL_CTX_set_ex_data(native, pskTableIndex(), table.get()) != 1)
        return fail("Could not attach the pre-shared keys to the TLS context");
    table.release();  // the context frees it (freePskTable)
    return context;
}

// Finishes a client connection attempt exactly once, whichever of connect, handshake and
// timeout comes first. Touched only on the stream's executor.
struct ConnectAttempt {
    ConnectAttempt(QuibTransport::Stream& stream, std::function<void(std::error_code)> done)
        : stream(stream), done(std::move(done)) {}

    QuibTransport::Stream& stream;
    std::function<void(std::error_code)> done;
    Cancellable deadline;
    bool finished = false;
    bool timedOut = false;

    // Handlers dropped unrun (their executor shut down) must not leave the timer armed.
    ~ConnectAttempt() { deadline.cancel(); }

    void finish(std::error_code error) {
        if (finished) return;
        finished = true;
        deadline.cancel();
        auto handler = std::move(done);
        handler(timedOut ? std::error_code(asio::error::timed_out) : error);
    }
};

}  // namespace

// ---- Keys and codes -----------------------------------------------------------------------

std::string QuibTransport::Derivation::label() const {
    if (!legacy_) return std::string(kCurrentLabel);
    return std::string(kLegacyLabelPrefix) + std::to_string(protocolVersion_) + ":";
}

QuibTransport::Parameters QuibTransport::parameters(std::vector<Key> keys, bool peerToPeer) {
    Parameters result;
    result.keys = std::move(keys);
    result.includePeerToPeer = peerToPeer;
    return result;
}

QuibTransport::Parameters QuibTransport::parameters(std::string_view pairingCode, const Derivation& derivation) {
    return parameters({Key{std::string(codeIdentity), pskData(pairingCode, derivation)}}, true);
}

Bytes QuibTransport::pskData(std::string_view code, const Derivation& derivation) {
    return sha256(derivation.label() + PairingCode::normalize(code));
}

Bytes QuibTransport::newRemoteKey() {
    Bytes key(32);
    const int status = RAND_bytes(key.data(), static_cast<int>(key.size()));
    if (status != 1) {
        std::fprintf(stderr, "SecRandomCopyBytes failed with %d\n", status);
        std::abort();
    }
    return key;
}

std::string QuibTransport::newPairingCode() {
    std::string code;
    for (int i = 0; i < PairingCode::length; ++i)
        code += PairingCode::alphabet[uniformIndex(static_cast<std::uint32_t>(PairingCode::alphabet.size()))];
    return code;
}

// ---- TLS contexts -------------------------------------------------------------------------

Result<std::shared_ptr<asio::ssl::context>> QuibTransport::serverContext(const Parameters& parameters) {
    auto context = makeContext(asio::ssl::context::tls_server, parameters.keys);
    if (!context) return context;
    SSL_CTX* native = (*context)->native_handle();
    // Every handshake uses the external key: no tickets, no session cache, no resumption.
    SSL_CTX_set_options(native, SSL_OP_NO_TICKET | SSL_OP_ALLOW_NO_DHE_KEX);
    SSL_CTX_set_session_cache_mode(native, SSL_SESS_CACHE_OFF);
    // An idle connection gives back its record buffers (about 34 KiB) until the peer writes again.
    SSL_CTX_set_mode(native, SSL_MODE_RELEASE_BUFFERS);
    if (SSL_CTX_set_num_tickets(native, 0) != 1) return fail("Could not configure the TLS context");
    // Only the TLS 1.3 lookup: the older server callback would also enable plain-PSK TLS 1.2 suites.
    SSL_CTX_set_psk_find_session_callback(native, findPskSession);
    return context;
}

Result<std::shared_ptr<asio::ssl::context>> QuibTransport::clientContext(const Parameters& parameters) {
    if (parameters.keys.empty()) return fail("A client connection needs a pre-shared key");
    auto context = makeContext(asio::ssl::context::tls_client, {parameters.keys.front()});
    if (!context) return context;
    SSL_CTX_set_psk_use_session_callback((*context)->native_handle(), usePskSession);
    return context;
}

Result<void> QuibTransport::applyTcpOptions(asio::basic_socket<asio::ip::tcp>& socket) {
    return applyTcpOptions(socket, TcpOptions{});
}

Result<void> QuibTransport::applyTcpOptions(asio::basic_socket<asio::ip::tcp>& socket, const TcpOptions& options) {
    std::error_code error;
    socket.set_option(asio::ip::tcp::no_delay(options.noDelay), error);
    if (!error) socket.set_option(asio::socket_base::keep_alive(options.keepAlive), error);
    if (error) return fail("Could not set the TCP options: " + error.message());
    if (!options.keepAlive) return {};
    const int idle = static_cast<int>(options.keepAliveIdle.count());
    if (setsockopt(socket.native_handle(), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0)
        return fail("Could not set the keep-alive idle time: " +
                    std::error_code(errno, std::generic_category()).message());
    return {};
}

void QuibTransport::connect(Stream& stream, const asio::ip::tcp::endpoint& endpoint, Clock& clock,
                            std::function<void(std::error_code)> done) {
    connect(stream, endpoint, clock, std::move(done), TcpOptions{});
}

void QuibTransport::connect(Stream& stream, const asio::ip::tcp::endpoint& endpoint, Clock& clock,
                            std::function<void(std::error_code)> done, const TcpOptions& options) {
    auto attempt = std::make_shared<ConnectAttempt>(stream, std::move(done));
    auto executor = stream.get_executor();
    attempt->deadline = clock.scheduleAfter(options.connectionTimeout, [weak = std::weak_ptr(attempt), executor] {
        auto attempt = weak.lock();
        if (!attempt) return;
        asio::post(executor, [attempt] {
            if (attempt->finished) return;
            attempt->timedOut = true;
            std::error_code ignored;
            attempt->stream.lowest_layer().close(ignored);  // the pending operation ends with an error
        });
    });
    stream.lowest_layer().async_connect(endpoint, [attempt, options](std::error_code error) {
        if (error || attempt->timedOut) return attempt->finish(error);
        (void)applyTcpOptions(attempt->stream.lowest_layer(), options);  // best effort, as on accept
        attempt->stream.async_handshake(asio::ssl::stream_base::client,
                                        [attempt](std::error_code error) { attempt->finish(error); });
    });
}

}  // namespace quib

std::size_t std::hash<quib::QuibTransport::Key>::operator()(const quib::QuibTransport::Key& key) const noexcept {
    std::size_t seed = std::hash<std::string>{}(key.identity);
    for (std::uint8_t byte : key.material) seed = seed * 31 + byte;
    return seed;
}
