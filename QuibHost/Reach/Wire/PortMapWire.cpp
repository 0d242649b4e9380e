#include "QuibHost/Reach/Wire/PortMapWire.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstdint>

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

bool isLinkLocalOrUniqueLocal(const Bytes& address) {
    const bool linkLocal = address[0] == 0xFE && address[1] >= 0x80 && address[1] <= 0xBF;
    const bool uniqueLocal = address[0] == 0xFC || address[0] == 0xFD;
    return linkLocal || uniqueLocal;
}

bool isLoopback(const Bytes& address) {
    return std::all_of(address.begin(), address.end() - 1, [](std::uint8_t b) { return b == 0; }) && address.back() == 1;
}

}  // namespace

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

bool PortMapWire::isPrivateIPv4(std::string_view text) {
    std::vector<std::int64_t> numbers;
    for (const auto piece : piecesBetween(text, '.')) {
        if (const auto number = decimalInteger(piece)) numbers.push_back(*number);
    }
    if (numbers.size() != 4) return false;
    if (std::any_of(numbers.begin(), numbers.end(), [](std::int64_t n) { return n < 0 || n > 255; })) return false;
    const std::int64_t a = numbers[0];
    const std::int64_t b = numbers[1];
    return a == 10 || (a == 100 && b >= 64 && b <= 127) || a == 127 || (a == 169 && b == 254) ||
           (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168);
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
