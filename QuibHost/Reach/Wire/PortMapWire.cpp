#include "QuibHost/Reach/Wire/PortMapWire.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "Runtime/HostWords.hpp"
#include "Runtime/SecureRandom.hpp"

namespace quib {

namespace {

// A decimal integer with an optional sign, as a whole piece of text; nothing otherwise.
std::optional<std::int64_t> decimalInteger(std::string_view text) {
    const bool plus = !text.empty() && text.front() == '+';
    if (plus) text.remove_prefix(1);
    if (text.empty() || (plus && text.front() == '-')) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> piecesBetween(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

// Whether `count` bytes from `offset` lie inside a buffer of `size` bytes.
bool holds(std::size_t size, std::int64_t offset, std::size_t count) {
    return offset >= 0 && static_cast<std::uint64_t>(offset) <= size &&
           size - static_cast<std::size_t>(offset) >= count;
}

Bytes copyOf(std::span<const std::uint8_t> bytes, std::size_t from, std::size_t count) {
    const auto piece = bytes.subspan(from, count);
    return Bytes(piece.begin(), piece.end());
}

void append(Bytes& bytes, std::span<const std::uint8_t> more) { bytes.insert(bytes.end(), more.begin(), more.end()); }

std::string dotted(std::span<const std::uint8_t> four) {
    return std::to_string(four[0]) + '.' + std::to_string(four[1]) + '.' + std::to_string(four[2]) + '.' +
           std::to_string(four[3]);
}

std::string refusedWithCode(unsigned code) { return "the router refused with code " + std::to_string(code); }

bool isLinkLocalOrUniqueLocal(const Bytes& address) {
    const bool linkLocal = address[0] == 0xFE && address[1] >= 0x80 && address[1] <= 0xBF;
    const bool uniqueLocal = address[0] == 0xFC || address[0] == 0xFD;
    return linkLocal || uniqueLocal;
}

bool isLoopback(const Bytes& address) {
    return std::all_of(address.begin(), address.end() - 1, [](std::uint8_t b) { return b == 0; }) &&
           address.back() == 1;
}

}  // namespace

void appendBigEndian(Bytes& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void appendBigEndian16(Bytes& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value));
}

std::uint32_t bigEndian(std::span<const std::uint8_t> bytes, std::int64_t offset) {
    if (!holds(bytes.size(), offset, 4)) return 0;
    const auto at = bytes.subspan(static_cast<std::size_t>(offset), 4);
    return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 | at[3];
}

std::uint16_t bigEndian16(std::span<const std::uint8_t> bytes, std::int64_t offset) {
    if (!holds(bytes.size(), offset, 2)) return 0;
    const auto at = bytes.subspan(static_cast<std::size_t>(offset), 2);
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

// NAT-PMP -------------------------------------------------------------------------------------

Bytes PortMapWire::NATPMP::mapRequest(std::uint16_t internalPort, std::uint16_t suggestedExternalPort,
                                      std::uint32_t lifetime) {
    Bytes request{0, 2, 0, 0};  // version 0, map TCP, reserved
    appendBigEndian16(request, internalPort);
    appendBigEndian16(request, suggestedExternalPort);
    appendBigEndian(request, lifetime);
    return request;
}

std::optional<PortMapWire::NATPMP::MapResponse> PortMapWire::NATPMP::parseMapResponse(
    std::span<const std::uint8_t> answer) {
    if (answer.size() < 16 || answer[0] != 0 || answer[1] != 130) return std::nullopt;
    return MapResponse{bigEndian16(answer, 2), bigEndian(answer, 4), bigEndian16(answer, 8), bigEndian16(answer, 10),
                       bigEndian(answer, 12)};
}

std::optional<PortMapWire::NATPMP::ExternalAddressResponse> PortMapWire::NATPMP::parseExternalAddressResponse(
    std::span<const std::uint8_t> answer) {
    if (answer.size() < 12 || answer[0] != 0 || answer[1] != 128) return std::nullopt;
    return ExternalAddressResponse{bigEndian16(answer, 2), bigEndian(answer, 4), dotted(answer.subspan(8, 4))};
}

std::optional<PortMapWire::NATPMP::Result> PortMapWire::NATPMP::result(std::uint16_t code) {
    if (code > static_cast<std::uint16_t>(Result::unsupportedOpcode)) return std::nullopt;
    return static_cast<Result>(code);
}

std::string_view PortMapWire::NATPMP::message(Result result) {
    switch (result) {
        case Result::success: return "mapped";
        case Result::unsupportedVersion: return "the router does not speak NAT-PMP";
        case Result::notAuthorized: return "the router refused to forward a port";
        case Result::networkFailure: return "the router has no internet connection";
        case Result::outOfResources: return "the router has no port mappings left";
        case Result::unsupportedOpcode: return "the router does not forward TCP";
    }
    return {};
}

std::string PortMapWire::NATPMP::messageForCode(std::uint16_t code) {
    const auto known = result(code);
    return known ? std::string(message(*known)) : refusedWithCode(code);
}

// PCP -----------------------------------------------------------------------------------------

std::optional<Bytes> PortMapWire::PCP::mapRequest(std::span<const std::uint8_t> clientAddress,
                                                  std::span<const std::uint8_t> nonce, std::uint16_t internalPort,
                                                  std::uint16_t suggestedExternalPort,
                                                  std::span<const std::uint8_t> suggestedExternalAddress,
                                                  std::uint32_t lifetime) {
    if (clientAddress.size() != 16 || nonce.size() != nonceLength || suggestedExternalAddress.size() != 16) {
        return std::nullopt;
    }
    Bytes request{2, 1, 0, 0};  // version 2, MAP request, reserved
    request.reserve(requestLength);
    appendBigEndian(request, lifetime);
    append(request, clientAddress);
    append(request, nonce);
    append(request, std::array<std::uint8_t, 4>{6, 0, 0, 0});  // TCP, reserved
    appendBigEndian16(request, internalPort);
    appendBigEndian16(request, suggestedExternalPort);
    append(request, suggestedExternalAddress);
    return request;
}

std::optional<PortMapWire::PCP::MapResponse> PortMapWire::PCP::parseMapResponse(std::span<const std::uint8_t> answer) {
    if (answer.size() < requestLength || answer[0] != 2 || answer[1] != 129) return std::nullopt;
    return MapResponse{answer[3],  bigEndian(answer, 4),    bigEndian(answer, 8),    copyOf(answer, 24, nonceLength),
                       answer[36], bigEndian16(answer, 40), bigEndian16(answer, 42), copyOf(answer, 44, 16)};
}

bool PortMapWire::PCP::saysUseNATPMP(std::span<const std::uint8_t> answer) {
    return answer.size() >= 2 && answer[0] != 2;
}

std::optional<PortMapWire::PCP::Result> PortMapWire::PCP::result(std::uint8_t code) {
    if (code > static_cast<std::uint8_t>(Result::excessiveRemotePeers)) return std::nullopt;
    return static_cast<Result>(code);
}

std::string_view PortMapWire::PCP::message(Result result) {
    switch (result) {
        case Result::success: return "mapped";
        case Result::unsupportedVersion: return "the router does not speak PCP";
        case Result::notAuthorized: return "the router is set to refuse port forwarding";
        case Result::malformedRequest:
        case Result::unsupportedOption:
        case Result::malformedOption: return "the router rejected the request";
        case Result::unsupportedOpcode: return "the router cannot forward ports";
        case Result::networkFailure: return "the router has no internet connection";
        case Result::noResources:
        case Result::userExceededQuota: return "the router has no port mappings left";
        case Result::unsupportedProtocol: return "the router cannot forward TCP";
        case Result::cannotProvideExternal:
            return "the router has no public address to forward — this looks like carrier-grade NAT";
        case Result::addressMismatch: return said<"the router disagreed about ", HostWords::thisComputer, "'s address">;
        case Result::excessiveRemotePeers: return "the router refused: too many peers";
    }
    return {};
}

std::string PortMapWire::PCP::messageForCode(std::uint8_t code) {
    const auto known = result(code);
    return known ? std::string(message(*known)) : refusedWithCode(code);
}

// Addresses -----------------------------------------------------------------------------------

Bytes PortMapWire::newNonce() {
    return secureRandomBytes(PCP::nonceLength, "Secure random source failed while drawing a mapping nonce");
}

std::vector<std::int64_t> PortMapWire::dottedNumbers(std::string_view text) {
    std::vector<std::int64_t> numbers;
    for (const auto piece : piecesBetween(text, '.')) {
        if (const auto number = decimalInteger(piece)) numbers.push_back(*number);
    }
    return numbers;
}

std::string_view PortMapWire::withoutZone(std::string_view text) {
    const auto pieces = piecesBetween(text, '%');
    return pieces.empty() ? std::string_view() : pieces.front();
}

std::optional<Bytes> PortMapWire::ipv6Bytes(std::string_view text) {
    const std::string address(withoutZone(text));
    Bytes bytes(16);
    if (inet_pton(AF_INET6, address.c_str(), bytes.data()) != 1) return std::nullopt;
    return bytes;
}

std::optional<Bytes> PortMapWire::mappedIPv6(std::string_view ipv4) {
    auto numbers = dottedNumbers(ipv4);
    std::erase_if(numbers, [](std::int64_t n) { return n < 0 || n > 255; });
    if (numbers.size() != 4) return std::nullopt;
    Bytes bytes(10, 0);
    bytes.insert(bytes.end(), {0xFF, 0xFF});
    for (const std::int64_t n : numbers) bytes.push_back(static_cast<std::uint8_t>(n));
    return bytes;
}

std::optional<std::string> PortMapWire::ipv4(std::span<const std::uint8_t> mappedIPv6) {
    if (mappedIPv6.size() != 16) return std::nullopt;
    const auto prefix = mappedIPv6.first(10);
    if (std::any_of(prefix.begin(), prefix.end(), [](std::uint8_t b) { return b != 0; })) return std::nullopt;
    if (mappedIPv6[10] != 0xFF || mappedIPv6[11] != 0xFF) return std::nullopt;
    return dotted(mappedIPv6.subspan(12, 4));
}

bool PortMapWire::isPrivateIPv4(std::string_view text) {
    const auto numbers = dottedNumbers(text);
    if (numbers.size() != 4) return false;
    if (std::any_of(numbers.begin(), numbers.end(), [](std::int64_t n) { return n < 0 || n > 255; })) return false;
    const std::int64_t a = numbers[0];
    const std::int64_t b = numbers[1];
    return a == 10 || (a == 100 && b >= 64 && b <= 127) || a == 127 || (a == 169 && b == 254) ||
           (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168);
}

bool PortMapWire::isUsablePublicIPv4(std::string_view text) {
    // inet_pton would stop at an embedded NUL and judge only the text before it.
    if (text.find('\0') != std::string_view::npos) return false;
    const std::string address(text);
    std::array<std::uint8_t, 4> bytes{};
    if (inet_pton(AF_INET, address.c_str(), bytes.data()) != 1) return false;
    return !isPrivateIPv4(address) && bytes[0] != 0 && bytes[0] < 224;
}

bool PortMapWire::isOnSameNetwork(std::string_view peer, const std::vector<std::string>& ownAddresses) {
    const std::string_view address = withoutZone(peer);
    if (address.empty()) return false;
    if (address.find('.') != std::string_view::npos && address.find(':') == std::string_view::npos) {
        return isPrivateIPv4(address);
    }
    const auto bytes = ipv6Bytes(address);
    if (!bytes) return false;
    if (isLinkLocalOrUniqueLocal(*bytes) || isLoopback(*bytes)) return true;
    return std::any_of(ownAddresses.begin(), ownAddresses.end(), [&](const std::string& own) {
        const auto ownBytes = ipv6Bytes(own);
        return ownBytes && std::equal(bytes->begin(), bytes->begin() + 8, ownBytes->begin());
    });
}

}  // namespace quib
