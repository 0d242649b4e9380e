#include "QuibHost/Reach/Wire/StunWire.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <vector>

#include "QuibHost/Reach/Wire/PortMapWire.hpp"

namespace quib {

namespace {

constexpr std::size_t attributeHeaderLength = 4;

// The cookie's four bytes, then the transaction: the mask of an xored address.
std::array<std::uint8_t, 16> xorMask(std::span<const std::uint8_t> transaction) {
    std::array<std::uint8_t, 16> mask{};
    for (std::size_t i = 0; i < 4; ++i) mask[i] = static_cast<std::uint8_t>(StunWire::magicCookie >> (24 - 8 * i));
    std::copy_n(transaction.begin(), std::min(transaction.size(), StunWire::transactionLength), mask.begin() + 4);
    return mask;
}

// Attribute values start on a multiple of four bytes.
std::size_t padded(std::size_t length) { return length + (4 - length % 4) % 4; }

// Digits only, no sign, and small enough for 16 bits.
std::optional<std::uint16_t> decimalPort(std::string_view text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::uint16_t port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return port;
}

}  // namespace

bool StunWire::Reflexive::isCarrierGradeNAT() const {
    if (isIPv6) return false;
    const auto numbers = PortMapWire::dottedNumbers(host);
    return numbers.size() == 4 && numbers[0] == 100 && numbers[1] >= 64 && numbers[1] <= 127;
}

std::optional<Bytes> StunWire::request(std::span<const std::uint8_t> transaction) {
    if (transaction.size() != transactionLength) return std::nullopt;
    Bytes request;
    request.reserve(headerLength);
    appendBigEndian16(request, bindingRequest);
    appendBigEndian16(request, 0);
    appendBigEndian(request, magicCookie);
    request.insert(request.end(), transaction.begin(), transaction.end());
    return request;
}

std::optional<StunWire::Reflexive> StunWire::reflexiveAddress(std::span<const std::uint8_t> answer,
                                                              std::span<const std::uint8_t> transaction) {
    if (answer.size() < headerLength || bigEndian16(answer, 0) != bindingSuccess ||
        bigEndian(answer, 4) != magicCookie || !std::ranges::equal(answer.subspan(8, transactionLength), transaction)) {
        return std::nullopt;
    }
    const std::size_t end = std::min(headerLength + bigEndian16(answer, 2), answer.size());
    std::optional<Reflexive> mapped;
    for (std::size_t at = headerLength; end >= at + attributeHeaderLength;) {
        const std::uint16_t type = bigEndian16(answer, static_cast<std::int64_t>(at));
        const std::size_t length = bigEndian16(answer, static_cast<std::int64_t>(at + 2));
        const std::size_t valueAt = at + attributeHeaderLength;
        if (valueAt + length > answer.size()) break;
        const auto value = answer.subspan(valueAt, length);
        if (type == xorMappedAddress) {
            if (auto address = parseAddress(value, true, transaction)) return address;
        } else if (type == mappedAddress && !mapped) {
            mapped = parseAddress(value, false, transaction);
        }
        at = valueAt + padded(length);
    }
    return mapped;
}

std::optional<int> StunWire::errorCode(std::span<const std::uint8_t> answer) {
    if (answer.size() < headerLength || bigEndian16(answer, 0) != bindingError) return std::nullopt;
    for (std::size_t at = headerLength; answer.size() >= at + 8;) {
        if (bigEndian16(answer, static_cast<std::int64_t>(at)) == errorCodeAttribute) {
            return answer[at + 6] * 100 + answer[at + 7];
        }
        at += attributeHeaderLength + padded(bigEndian16(answer, static_cast<std::int64_t>(at + 2)));
    }
    return std::nullopt;
}

std::optional<StunWire::Reflexive> StunWire::parseAddress(std::span<const std::uint8_t> value, bool xored,
                                                          std::span<const std::uint8_t> transaction) {
    if (value.size() < 8) return std::nullopt;
    const auto port = static_cast<std::uint16_t>(bigEndian16(value, 2) ^ (xored ? magicCookie >> 16 : 0));
    const auto mask = xorMask(transaction);
    const auto unmask = [&](std::size_t count) {
        Bytes address(value.begin() + 4, value.begin() + 4 + static_cast<std::ptrdiff_t>(count));
        if (xored) std::transform(address.begin(), address.end(), mask.begin(), address.begin(), std::bit_xor<>());
        return address;
    };
    switch (value[1]) {
        case 0x01: {
            const Bytes address = unmask(4);
            return Reflexive{std::to_string(address[0]) + '.' + std::to_string(address[1]) + '.' +
                                 std::to_string(address[2]) + '.' + std::to_string(address[3]),
                             port, false};
        }
        case 0x02:
            // The mask of an xored IPv6 address takes the whole transaction.
            if (value.size() < 20 || (xored && transaction.size() != transactionLength)) return std::nullopt;
            return Reflexive{text(unmask(16)), port, true};
        default: return std::nullopt;
    }
}

std::string StunWire::text(std::span<const std::uint8_t> ipv6) {
    if (ipv6.size() != 16) return {};
    std::array<char, 46> buffer{};
    if (!inet_ntop(AF_INET6, ipv6.data(), buffer.data(), buffer.size())) return {};
    return buffer.data();
}

std::optional<StunWire::Server> StunWire::server(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find(':', start), text.size());
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (pieces.size() != 2) return std::nullopt;
    const auto port = decimalPort(pieces[1]);
    if (!port) return std::nullopt;
    return Server{std::string(pieces[0]), *port};
}

}  // namespace quib
