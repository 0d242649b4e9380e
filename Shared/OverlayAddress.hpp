#pragma once

#include <string_view>

namespace quib {

// Recognises addresses of the overlay VPN: IPv4 100.64.0.0/10 and IPv6 fd7a:115c:a1e0::/48.
struct OverlayAddress {
    // True when the text is an IPv4 or IPv6 address in one of the overlay ranges. A "%zone"
    // suffix is ignored; IPv4 must be four dotted decimal numbers. Anything else is false.
    static bool contains(std::string_view address);
};

}  // namespace quib
