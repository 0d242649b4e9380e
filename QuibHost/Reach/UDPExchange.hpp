#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Runtime/Bytes.hpp"
#include "Runtime/CancelToken.hpp"
#include "Runtime/Clock.hpp"

namespace quib {

// One request and one answer over UDP: how the host asks the router for a port mapping and a
// STUN server for its public address. Every call makes its own socket and blocks its thread
// until the answer, the time-out or a cancel, so it belongs on a worker, never on the main loop.
// A request may go out again within its time-out, as the protocols retransmit over links that
// lose datagrams.
struct UDPExchange {
    // Where the request goes: an IPv4 or IPv6 address, or a host name.
    struct Endpoint {
        std::string host;
        std::uint16_t port = 0;
        bool operator==(const Endpoint&) const = default;
    };

    // The link the request must leave by, and its IPv4 address (empty when it has none).
    struct Interface {
        std::string name;
        std::string address;
        bool operator==(const Interface&) const = default;
    };

    struct Reply {
        Bytes reply;
        // This side's address as the exchange used it, without any IPv6 zone.
        std::optional<std::string> localAddress;
    };

    // When a request goes out, and until when its answer is waited for, on the schedule's clock:
    // at once, then again after `firstResend`, and again after each doubling of the interval
    // before, as long as that comes before `timeout`. An answer to any of them ends the wait.
    struct Schedule {
        Duration timeout{};
        std::optional<Duration> firstResend = std::nullopt;  // none: it goes once
        std::shared_ptr<Clock> clock = nullptr;              // none: the system clock
        // The moments of the sends, from the start: 0, first, 3 × first, 7 × first, ...
        std::vector<Duration> sendTimes() const;
    };

    UDPExchange() = delete;

    // Sends `request` to `endpoint` as `schedule` says and gives the first datagram that comes
    // back from it.
    // With an interface, the socket is tied to that link and bound to its address. A host name
    // is looked up first, within the same time-out; IPv4 answers are tried before IPv6 ones.
    //
    // Nothing comes back after the time-out, a cancel, an empty datagram, a refusal by the peer
    // (ICMP port unreachable, reported at once) or any failure to set up or send. Datagrams from
    // any other address or port never count as the answer.
    static std::optional<Reply> ask(std::span<const std::uint8_t> request, const Endpoint& endpoint,
                                    const std::optional<Interface>& interface, const Schedule& schedule,
                                    const CancelToken& cancel);
    // Sends it once and waits `timeout`, on the system clock.
    static std::optional<Reply> ask(std::span<const std::uint8_t> request, const Endpoint& endpoint,
                                    const std::optional<Interface>& interface, Duration timeout,
                                    const CancelToken& cancel);

    // This side's address towards an endpoint given as an address, as a request to it would
    // leave (over `interface` when given), without sending anything; nothing without a route.
    static std::optional<std::string> localAddress(const Endpoint& endpoint, const std::optional<Interface>& interface);

    // The text of an endpoint's address: a host name as given, an IPv4 address in dotted form,
    // an IPv6 address in its standard form without zone. Nothing for no endpoint.
    static std::optional<std::string> address(const std::optional<Endpoint>& endpoint);
    // The same for a socket address; nothing when it is neither IPv4 nor IPv6.
    static std::optional<std::string> address(const sockaddr_storage& socketAddress);
};

}  // namespace quib
