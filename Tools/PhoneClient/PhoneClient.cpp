#include "Tools/PhoneClient/PhoneClient.hpp"

#include <array>
#include <deque>
#include <utility>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include "Runtime/Clock.hpp"
#include "Shared/HelloPayload.hpp"
#include "Shared/HostMessage.hpp"
#include "Shared/LineFramer.hpp"
#include "Shared/MessageShape.hpp"

namespace quib {

namespace {

constexpr std::int64_t maxHostLineBytes = 64 * 1024 * 1024;  // catalogs with icons are large
constexpr std::chrono::seconds writeTimeout{10};

Result<asio::ip::tcp::endpoint> resolve(asio::io_context& io, const std::string& host, std::uint16_t port) {
    std::error_code error;
    asio::ip::address address = asio::ip::make_address(host, error);
    if (!error) return asio::ip::tcp::endpoint(address, port);
    asio::ip::tcp::resolver resolver(io);
    auto found = resolver.resolve(host, std::to_string(port), error);
    if (error || found.empty()) return fail("Could not resolve " + host + ": " + error.message());
    return found.begin()->endpoint();
}

// A TLS alert from the host means it could not agree on the key, which comes from the pairing
// code; an end of the stream before any answer means the host closed the connection unheard.
PhoneClient::Refusal refusalOf(const std::error_code& error) {
    if (error == asio::ssl::error::stream_truncated || error == asio::error::eof ||
        error == asio::error::connection_reset)
        return PhoneClient::Refusal::turnedAway;
    if (error.category() == asio::error::get_ssl_category()) return PhoneClient::Refusal::pairingCode;
    return PhoneClient::Refusal::none;
}

std::string reasonOf(const std::error_code& error, PhoneClient::Refusal refusal) {
    switch (refusal) {
        case PhoneClient::Refusal::pairingCode: return std::string(PhoneClient::pairingCodeRefusal);
        case PhoneClient::Refusal::turnedAway: return std::string(PhoneClient::turnedAwayRefusal);
        case PhoneClient::Refusal::none: break;
    }
    return error.message();
}

}  // namespace

struct PhoneClient::Impl {
    asio::io_context io;
    std::shared_ptr<SystemClock> clock = SystemClock::shared();
    std::shared_ptr<asio::ssl::context> context;
    std::optional<QuibTransport::Stream> stream;
    LineFramer framer{maxHostLineBytes};
    std::deque<std::string> lines;
    bool keepBytes = false;  // frames, not lines
    std::string bytes;
    std::array<char, 65536> readBuffer{};
    bool closed = false;
    std::string closeReason;

    // Runs the io context on this thread until `done` holds or `timeout` passes; true when done.
    template <class Predicate>
    bool runUntil(Predicate done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return false;
            io.restart();
            io.run_for(deadline - now);
        }
        return true;
    }

    // Keeps one read outstanding for the connection's whole life; each completion stops the
    // io context so a waiting call can look at what came.
    void armRead() {
        stream->async_read_some(asio::buffer(readBuffer), [this](std::error_code error, std::size_t count) {
            if (count > 0 && keepBytes) {
                bytes.append(readBuffer.data(), count);
            } else if (count > 0) {
                framer.feed(std::string_view(readBuffer.data(), count));
                while (auto line = framer.nextLine()) lines.push_back(std::move(*line));
            }
            if (error) {
                closed = true;
                closeReason = error.message();
            } else {
                armRead();
            }
            io.stop();
        });
    }
};

PhoneClient::PhoneClient(Passkey, std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PhoneClient::~PhoneClient() { close(); }

Result<std::unique_ptr<PhoneClient>> PhoneClient::connect(const Options& options, Refusal* refusal) {
    if (refusal) *refusal = Refusal::none;
    auto impl = std::make_unique<Impl>();
    QuibTransport::Parameters parameters =
        options.key ? QuibTransport::parameters({*options.key}, true)
                    : QuibTransport::parameters(options.pairingCode, QuibTransport::Derivation::current());
    parameters.tcp.connectionTimeout = options.connectTimeout;
    auto context = QuibTransport::clientContext(parameters);
    if (!context) return context.error();
    impl->context = *context;
    impl->stream.emplace(impl->io, *impl->context);

    auto endpoint = resolve(impl->io, options.host, options.port);
    if (!endpoint) return endpoint.error();
    if (!options.localAddress.empty()) {
        std::error_code error;
        asio::ip::address local = asio::ip::make_address(options.localAddress, error);
        auto& socket = impl->stream->lowest_layer();
        if (!error) socket.open(endpoint->protocol(), error);
        if (!error) socket.bind(asio::ip::tcp::endpoint(local, 0), error);
        if (error) return fail("Could not bind to " + options.localAddress + ": " + error.message());
    }
    if (options.receiveBuffer > 0) {
        std::error_code error;
        auto& socket = impl->stream->lowest_layer();
        if (!socket.is_open()) socket.open(endpoint->protocol(), error);
        if (!error) socket.set_option(asio::socket_base::receive_buffer_size(options.receiveBuffer), error);
        if (error) return fail("Could not size the receive buffer: " + error.message());
    }

    std::optional<std::error_code> outcome;
    QuibTransport::connect(
        *impl->stream, *endpoint, *impl->clock, [&outcome](std::error_code error) { outcome = error; }, parameters.tcp);
    // The transport's own timeout always ends the attempt; the margin only guards against a hang.
    impl->runUntil([&] { return outcome.has_value(); }, options.connectTimeout + std::chrono::seconds(5));
    if (!outcome) return fail("Timed out connecting to " + options.host + ":" + std::to_string(options.port));
    if (*outcome) {
        const Refusal why = refusalOf(*outcome);
        if (refusal) *refusal = why;
        return fail("Could not connect to " + options.host + ":" + std::to_string(options.port) + ": " +
                    reasonOf(*outcome, why));
    }

    impl->armRead();
    return std::make_unique<PhoneClient>(Passkey{}, std::move(impl));
}

Result<void> PhoneClient::sendHello(const std::string& deviceID, const std::string& deviceName,
                                    std::int64_t protocolVersion) {
    HelloPayload hello{protocolVersion, deviceName, deviceID};
    Json message = messageJson("hello", Json{{std::string(kUnlabelledPayloadKey), hello.toJson()}});
    return sendLine(message.dump());
}

Result<void> PhoneClient::sendLine(std::string_view line) {
    std::string bytes(line);
    if (bytes.empty() || bytes.back() != '\n') bytes.push_back('\n');
    return sendBytes(bytes);
}

Result<void> PhoneClient::sendBytes(std::string_view bytes) {
    if (impl_->closed) return fail("Connection closed");
    std::optional<std::error_code> outcome;
    asio::async_write(*impl_->stream, asio::buffer(bytes.data(), bytes.size()),
                      [this, &outcome](std::error_code error, std::size_t) {
                          outcome = error;
                          impl_->io.stop();
                      });
    if (!impl_->runUntil([&] { return outcome.has_value(); }, writeTimeout)) {
        // The write still refers to `bytes`: end the connection so it cannot outlive them.
        close();
        return fail("Timed out sending");
    }
    if (*outcome) return fail("Could not send: " + outcome->message());
    return {};
}

// Every line the host sends must be one host message as the shared model reads it, so each
// test that talks to a host also checks what the host writes.
Result<std::string> PhoneClient::receiveLine(std::chrono::milliseconds timeout) {
    impl_->runUntil([&] { return !impl_->lines.empty() || impl_->closed; }, timeout);
    if (!impl_->lines.empty()) {
        std::string line = std::move(impl_->lines.front());
        impl_->lines.pop_front();
        if (auto checked = readable(line); !checked) return checked.error();
        return line;
    }
    if (impl_->closed) return fail("Connection closed");
    return fail("Timed out");
}

Result<Json> PhoneClient::receiveCase(std::string_view caseName, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto line = receiveLine(std::max(left, std::chrono::milliseconds(0)));
        if (!line) return line.error();
        Json json = Json::parse(*line, nullptr, false);
        if (json.is_object() && json.size() == 1 && json.contains(std::string(caseName)))
            return json[std::string(caseName)];
    }
}

Result<void> PhoneClient::waitForClose(std::chrono::milliseconds timeout) {
    if (!impl_->runUntil([&] { return impl_->closed; }, timeout)) return fail("Timed out");
    for (const auto& line : impl_->lines)
        if (auto checked = readable(line); !checked) return checked.error();
    return {};
}

void PhoneClient::expectBytes() { impl_->keepBytes = true; }

Result<std::string> PhoneClient::receiveBytes(std::chrono::milliseconds timeout) {
    impl_->runUntil([&] { return !impl_->bytes.empty() || impl_->closed; }, timeout);
    if (!impl_->bytes.empty()) return std::exchange(impl_->bytes, {});
    if (impl_->closed) return fail("Connection closed");
    return fail("Timed out");
}

Result<void> PhoneClient::readable(const std::string& line) {
    auto message = QuibCoder::decode<HostMessage>(line);
    if (message) return {};
    return fail("The host sent a line that is no host message (" + message.error().message +
                "): " + line.substr(0, 200));
}

bool PhoneClient::isClosed() const { return impl_->closed; }

void PhoneClient::close() {
    if (!impl_ || !impl_->stream) return;
    auto& socket = impl_->stream->lowest_layer();
    if (socket.is_open()) {
        // No TLS close_notify: the host treats a plain close like a phone that went away.
        std::error_code ignored;
        socket.shutdown(asio::socket_base::shutdown_both, ignored);
        socket.close(ignored);
    }
    impl_->closed = true;
    // Let the cancelled read finish while `this` is still alive.
    impl_->io.restart();
    impl_->io.poll();
}

}  // namespace quib
