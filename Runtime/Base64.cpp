#include "Runtime/Base64.hpp"

#include <array>

namespace quib {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeReverse() {
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}
constexpr auto kReverse = makeReverse();

}  // namespace

std::string base64Encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        std::uint32_t v = bytes[i] << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<Bytes> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int padding = 0;
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=') {
                // Padding only at the end of the last group, and at most two characters of it.
                if (!last || k < 2) return std::nullopt;
                ++padding;
                v <<= 6;
                continue;
            }
            if (padding > 0) return std::nullopt;
            const auto d = kReverse[static_cast<unsigned char>(c)];
            if (d < 0) return std::nullopt;
            v = (v << 6) | static_cast<std::uint32_t>(d);
        }
        if (padding == 2 && (v & 0xFFFF) != 0) return std::nullopt;
        if (padding == 1 && (v & 0xFF) != 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(v >> 16));
        if (padding < 2) out.push_back(static_cast<std::uint8_t>(v >> 8));
        if (padding < 1) out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

}  // namespace quib
