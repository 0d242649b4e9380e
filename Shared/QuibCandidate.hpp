#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "Shared/Json.hpp"

namespace quib {

// One way for a phone to reach the host from away. All four keys are required; a port outside
// 0...65535 or an unknown reach fails the record.
struct QuibCandidate {
    // Listed, and compared, in priority order; allCases<Reach>() gives them in that order.
    enum class Reach {
        local,       // an address on the local network or an overlay VPN, with the local port
        internet6,   // a globally routable IPv6 address, with the away port
        forwarded4,  // the router's public IPv4 address, with the mapped or away port
    };

    std::string host;  // IPv4 dotted decimal, or IPv6 text without brackets or zone
    std::uint16_t port = 0;
    Reach reach = Reach::local;
    std::string via;  // how the way was found, shown to the user

    // "reach|host|port", with the reach's name: local|192.168.1.20|61413. Candidates that differ
    // only in `via` share it.
    std::string id() const;
    // "host:port", with the host in brackets when it holds a colon: [2001:db8::5]:61423.
    std::string display() const;
    // Any way that is not on the local network or the overlay VPN.
    bool isRemote() const { return reach != Reach::local; }

    static QuibCandidate fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const QuibCandidate&) const = default;
};

template <>
struct EnumNames<QuibCandidate::Reach> {
    static constexpr std::array<std::pair<QuibCandidate::Reach, std::string_view>, 3> table{{
        {QuibCandidate::Reach::local, "local"},
        {QuibCandidate::Reach::internet6, "internet6"},
        {QuibCandidate::Reach::forwarded4, "forwarded4"},
    }};
};

}  // namespace quib

template <>
struct std::hash<quib::QuibCandidate> {
    std::size_t operator()(const quib::QuibCandidate& candidate) const noexcept;
};
