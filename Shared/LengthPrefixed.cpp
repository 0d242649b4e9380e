#include "Shared/LengthPrefixed.hpp"

#include <limits>

namespace quib {
namespace {

void appendLength(Bytes& out, std::size_t length) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(length >> shift));
}

}  // namespace

Result<Bytes> LengthPrefixed::frame(std::string_view header, std::span<const std::uint8_t> payload) {
    constexpr std::size_t largest = std::numeric_limits<std::uint32_t>::max();
    if (header.size() > largest || payload.size() > largest) return fail("The frame is too large to send");
    Bytes out;
    out.reserve(header.size() + payload.size() + 2 * lengthBytes);
    appendLength(out, header.size());
    out.insert(out.end(), header.begin(), header.end());
    appendLength(out, payload.size());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::uint32_t LengthPrefixed::readLength(const char* bytes) {
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length = (length << 8) | static_cast<std::uint8_t>(bytes[i]);
    return length;
}

}  // namespace quib
