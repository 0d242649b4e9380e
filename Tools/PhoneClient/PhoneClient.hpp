#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Runtime/Result.hpp"
#include "Shared/Json.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/QuibProtocol.hpp"
#include "Shared/QuibTransport.hpp"

namespace quib {

// A stand-in phone: one connection to a host over the same TLS parameters a phone uses, driven
// synchronously from one thread. Tests and the quib-phone tool use it to talk to a real host.
//
// All network work runs on the calling thread inside the calls, so nothing happens between
// calls; lines the host sends meanwhile wait in the socket and are read on the next receive.
class PhoneClient {
    // Only the class's own factories can make this key, so construction goes through them.
    struct Passkey {
        explicit Passkey() = default;
    };
    struct Impl;

public:
    PhoneClient(Passkey, std::unique_ptr<Impl> impl);
    struct Options {
        std::string host = "127.0.0.1";
        std::uint16_t port = 61413;
        std::string pairingCode;
        // Offered instead of the key derived from the pairing code (an away key, or a wrong one).
        std::optional<QuibTransport::Key> key;
        // When not empty, the socket is bound to this local address before connecting, so tests
        // can come from distinct loopback sources (127.0.0.2, 127.0.0.3, ...).
        std::string localAddress;
        // How long the TCP connect and the TLS handshake may take together.
        std::chrono::seconds connectTimeout{10};
        // When above 0, the socket's receive buffer (SO_RCVBUF), set before connecting so that the
        // kernel does not grow it: a slow reader then holds back the sender within that much.
        int receiveBuffer = 0;
    };

    // Why a connection did not come about, as far as the phone can tell.
    enum class Refusal {
        none,
        pairingCode,  // the host ended the handshake with an alert: the key (the code) is not its
        turnedAway,   // the host closed the connection before any handshake (a lock-out)
    };
    static constexpr std::string_view pairingCodeRefusal = "the pairing code was not accepted";
    static constexpr std::string_view turnedAwayRefusal =
        "the host turned the connection away before the handshake (locked out after failed handshakes)";

    // Connects and completes the TLS handshake; fails with a readable reason otherwise, and says
    // in `refusal` (when given) what kind of failure it was.
    static Result<std::unique_ptr<PhoneClient>> connect(const Options& options, Refusal* refusal = nullptr);

    ~PhoneClient();
    PhoneClient(const PhoneClient&) = delete;
    PhoneClient& operator=(const PhoneClient&) = delete;

    // The control connection's first line.
    Result<void> sendHello(const std::string& deviceID, const std::string& deviceName,
                           std::int64_t protocolVersion = QuibProtocol::version);
    // Any message with a JSON coding (a ClientMessage), as one line.
    template <JsonCodable T>
    Result<void> send(const T& message) {
        auto line = QuibCoder::line(message);
        if (!line) return line.error();
        return sendBytes(*line);
    }
    // One line of raw JSON (or anything else); a line feed is added when it lacks one.
    Result<void> sendLine(std::string_view line);
    // Bytes exactly as given (upload frames, partial lines).
    Result<void> sendBytes(std::string_view bytes);

    // The next line from the host, without its line feed. Fails with "Timed out" when none
    // came within `timeout` (the connection stays usable), "Connection closed" once the host
    // has closed and every line before that was read, and with the decoder's reason when the
    // line is not a host message the shared model can read.
    Result<std::string> receiveLine(std::chrono::milliseconds timeout);
    // The next host message of the given case (its name, e.g. "pong"), skipping other lines;
    // returns the case's payload object.
    Result<Json> receiveCase(std::string_view caseName, std::chrono::milliseconds timeout);
    // Waits until the host closes the connection; lines that arrive meanwhile stay to be
    // received, and each must be a host message.
    Result<void> waitForClose(std::chrono::milliseconds timeout);

    // From now on what the host sends is kept as it comes, for receiveBytes, not split into
    // lines: a side channel's frames. Call it before the channel's hello.
    void expectBytes();
    // Every byte the host sent since the last call; waits up to `timeout` for at least one.
    // Fails with "Timed out" when none came, or "Connection closed" once nothing more will.
    Result<std::string> receiveBytes(std::chrono::milliseconds timeout);

    // True once the host has closed the connection or it failed.
    bool isClosed() const;
    // Ends the connection from this side (TLS close, then the socket). Safe to call twice.
    void close();

private:
    static Result<void> readable(const std::string& line);

    std::unique_ptr<Impl> impl_;
};

}  // namespace quib
