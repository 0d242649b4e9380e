#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Runtime/Bytes.hpp"

namespace quib {

// The STUN Binding exchange that tells the host its public address and port: the request, and
// the address or error code of an answer. No authentication and no attributes of our own. Free
// of state and safe on any thread; a malformed, foreign or truncated answer gives nothing.
struct StunWire {
    static constexpr std::uint32_t magicCookie = 0x2112A442;
    static constexpr std::size_t transactionLength = 12;
    static constexpr std::size_t headerLength = 20;

    static constexpr std::uint16_t bindingRequest = 0x0001;
    static constexpr std::uint16_t bindingSuccess = 0x0101;
    static constexpr std::uint16_t bindingError = 0x0111;

    static constexpr std::uint16_t mappedAddress = 0x0001;
    static constexpr std::uint16_t xorMappedAddress = 0x0020;
    static constexpr std::uint16_t errorCodeAttribute = 0x0009;

    // An address as a STUN server reports it.
    struct Reflexive {
        std::string host;  // dotted IPv4, or IPv6 in its standard text form
        std::uint16_t port = 0;
        bool isIPv6 = false;

        // In the shared address space 100.64.0.0/10: the router itself sits behind another NAT.
        bool isCarrierGradeNAT() const;
        bool operator==(const Reflexive&) const = default;
    };

    // Where to send a request: a host name or address and a UDP port.
    struct Server {
        std::string host;
        std::uint16_t port = 0;
        bool operator==(const Server&) const = default;
    };

    // The 20-byte Binding request; nothing unless the transaction identifier is 12 bytes.
    static std::optional<Bytes> request(std::span<const std::uint8_t> transaction);

    // The address of a Binding success answer to `transaction`. An XOR-MAPPED-ADDRESS wins at
    // once; otherwise the first MAPPED-ADDRESS. An attribute running past the answer ends the
    // scan, keeping what was found before it.
    static std::optional<Reflexive> reflexiveAddress(std::span<const std::uint8_t> answer,
                                                     std::span<const std::uint8_t> transaction);

    // The code of a Binding error answer (420 for class 4, number 20); the transaction is not
    // compared.
    static std::optional<int> errorCode(std::span<const std::uint8_t> answer);

    // One (XOR-)MAPPED-ADDRESS value. An xored IPv6 address needs the 12-byte transaction.
    static std::optional<Reflexive> parseAddress(std::span<const std::uint8_t> value, bool xored,
                                                 std::span<const std::uint8_t> transaction);

    // The standard text of 16 IPv6 bytes; empty when they cannot be written.
    static std::string text(std::span<const std::uint8_t> ipv6);

    // A server text "host:port", split at ":" with empty pieces dropped: usable only as exactly
    // two pieces whose second is a decimal port. A bracketed IPv6 literal never qualifies.
    static std::optional<Server> server(std::string_view text);
};

}  // namespace quib
