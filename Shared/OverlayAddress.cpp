#include "Shared/OverlayAddress.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace quib {

bool OverlayAddress::contains(std::string_view address) {
    // Interface-scoped addresses ("fe80::1%en0") are judged by the address part.
    const std::string text(address.substr(0, address.find('%')));

    // inet_pton, unlike inet_aton, takes only the four-part dotted decimal form.
    std::array<std::uint8_t, 4> v4{};
    if (inet_pton(AF_INET, text.c_str(), v4.data()) == 1) return v4[0] == 100 && v4[1] >= 64 && v4[1] <= 127;

    std::array<std::uint8_t, 16> v6{};
    if (inet_pton(AF_INET6, text.c_str(), v6.data()) == 1) {
        static constexpr std::uint8_t kPrefix[] = {0xFD, 0x7A, 0x11, 0x5C, 0xA1, 0xE0};
        return std::memcmp(v6.data(), kPrefix, sizeof kPrefix) == 0;
    }
    return false;
}

}  // namespace quib
