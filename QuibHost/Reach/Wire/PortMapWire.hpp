#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Bytes.hpp"

namespace quib {

// Big-endian fields of router and STUN messages. A read whose bytes do not all lie inside the
// buffer (a negative offset, or one too close to the end) gives 0 rather than reading past it.
void appendBigEndian(Bytes& bytes, std::uint32_t value);
void appendBigEndian16(Bytes& bytes, std::uint16_t value);
std::uint32_t bigEndian(std::span<const std::uint8_t> bytes, std::int64_t offset);
std::uint16_t bigEndian16(std::span<const std::uint8_t> bytes, std::int64_t offset);

// The port-mapping messages a home router understands, and the address tests of away reach.
// Everything is free of state and safe on any thread. The parsers check only a message's size,
// version and opcode: result codes, nonces, protocols and ports are the caller's to judge.
struct PortMapWire {
    struct NATPMP {
        enum class Result : std::uint16_t {
            success = 0,
            unsupportedVersion = 1,
            notAuthorized = 2,
            networkFailure = 3,
            outOfResources = 4,
            unsupportedOpcode = 5,
        };

        struct MapResponse {
            std::uint16_t result = 0;
            std::uint32_t epoch = 0;
            std::uint16_t internalPort = 0;
            std::uint16_t externalPort = 0;
            std::uint32_t lifetime = 0;
            bool operator==(const MapResponse&) const = default;
        };

        struct ExternalAddressResponse {
            std::uint16_t result = 0;
            std::uint32_t epoch = 0;
            std::string address;  // dotted decimal
            bool operator==(const ExternalAddressResponse&) const = default;
        };

        // Version 0, opcode 0: asks the router for its public address.
        static constexpr std::array<std::uint8_t, 2> externalAddressRequest{0x00, 0x00};

        // The 12-byte request to map a TCP port.
        static Bytes mapRequest(std::uint16_t internalPort, std::uint16_t suggestedExternalPort,
                                std::uint32_t lifetime);
        // At least 16 bytes, version 0 and opcode 130; bytes past the 16th are ignored.
        static std::optional<MapResponse> parseMapResponse(std::span<const std::uint8_t> answer);
        // At least 12 bytes, version 0 and opcode 128.
        static std::optional<ExternalAddressResponse> parseExternalAddressResponse(
            std::span<const std::uint8_t> answer);

        // The case of a result code; none from 6 on.
        static std::optional<Result> result(std::uint16_t code);
        static std::string_view message(Result result);
        // The text of a code as received, with a case or without one.
        static std::string messageForCode(std::uint16_t code);
    };

    struct PCP {
        enum class Result : std::uint8_t {
            success = 0,
            unsupportedVersion = 1,
            notAuthorized = 2,
            malformedRequest = 3,
            unsupportedOpcode = 4,
            unsupportedOption = 5,
            malformedOption = 6,
            networkFailure = 7,
            noResources = 8,
            unsupportedProtocol = 9,
            userExceededQuota = 10,
            cannotProvideExternal = 11,
            addressMismatch = 12,
            excessiveRemotePeers = 13,
        };

        struct MapResponse {
            std::uint8_t result = 0;
            std::uint32_t lifetime = 0;
            std::uint32_t epoch = 0;
            Bytes nonce;  // 12 bytes
            std::uint8_t protocolNumber = 0;
            std::uint16_t internalPort = 0;
            std::uint16_t externalPort = 0;
            Bytes externalAddress;  // 16 bytes; IPv4 in its mapped IPv6 form
            bool operator==(const MapResponse&) const = default;
        };

        static constexpr std::size_t requestLength = 60;
        static constexpr std::size_t nonceLength = 12;

        // The 60-byte request to map a TCP port; nothing unless both addresses are 16 bytes and the
        // nonce 12.
        static std::optional<Bytes> mapRequest(std::span<const std::uint8_t> clientAddress,
                                               std::span<const std::uint8_t> nonce, std::uint16_t internalPort,
                                               std::uint16_t suggestedExternalPort,
                                               std::span<const std::uint8_t> suggestedExternalAddress,
                                               std::uint32_t lifetime);
        // At least 60 bytes, version 2 and opcode 129 (a MAP answer); the excess is ignored.
        static std::optional<MapResponse> parseMapResponse(std::span<const std::uint8_t> answer);
        // A router that speaks only NAT-PMP answers a PCP request with its own version (not 2).
        static bool saysUseNATPMP(std::span<const std::uint8_t> answer);

        // The case of a result code; none from 14 on.
        static std::optional<Result> result(std::uint8_t code);
        static std::string_view message(Result result);
        // The text of a code as received, with a case or without one.
        static std::string messageForCode(std::uint8_t code);
    };

    // 12 fresh bytes from the secure random source, which stops the process when it fails.
    static Bytes newNonce();

    // The 16 bytes of an IPv6 address; a "%zone" suffix is dropped first. Nothing when the text
    // is no IPv6 address.
    static std::optional<Bytes> ipv6Bytes(std::string_view text);

    // ::ffff:a.b.c.d from the numbers 0...255 among the dotted pieces of `ipv4` (other pieces are
    // dropped, so "192.168.x.1.20" reads as 192.168.1.20); nothing unless exactly four remain.
    static std::optional<Bytes> mappedIPv6(std::string_view ipv4);
    // The dotted text of an IPv4-mapped IPv6 address; nothing for any other bytes.
    static std::optional<std::string> ipv4(std::span<const std::uint8_t> mappedIPv6);

    // Four dotted decimal numbers of 0...255 (pieces that are not numbers are dropped) in a
    // private, shared (100.64.0.0/10), loopback or link-local range.
    static bool isPrivateIPv4(std::string_view text);

    // Whether a router's or a STUN server's word for the public address can be handed to phones:
    // a strict dotted IPv4 address, not private, not in 0.0.0.0/8, below the multicast range.
    // The documentation ranges pass: they stand for public addresses in examples and tests.
    static bool isUsablePublicIPv4(std::string_view text);

    // Whether a peer at `peer` is on the host's own network: a private IPv4 address, an IPv6
    // link-local, unique-local or loopback address, or one that shares the /64 prefix of one of
    // `ownAddresses`. Anything containing a colon is judged as IPv6, so an IPv4-mapped address
    // counts only through the prefix comparison.
    static bool isOnSameNetwork(std::string_view peer, const std::vector<std::string>& ownAddresses);

    // The text before the first non-empty "%"-separated piece is kept; none gives empty text.
    static std::string_view withoutZone(std::string_view text);

    // The decimal integers among the non-empty "."-separated pieces of `text`, in order; pieces
    // that are not integers are dropped.
    static std::vector<std::int64_t> dottedNumbers(std::string_view text);
};

}  // namespace quib
