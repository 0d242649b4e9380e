#include "Runtime/SecureRandom.hpp"

#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>

namespace quib {

Bytes secureRandomBytes(std::size_t count, const char* fatalMessage) {
    Bytes bytes(count);
    if (count > 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
        std::fprintf(stderr, "%s\n", fatalMessage);
        std::abort();
    }
    return bytes;
}

std::string newUuidString() {
    Bytes b = secureRandomBytes(16);
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += kHex[b[i] >> 4];
        out += kHex[b[i] & 0x0F];
    }
    return out;
}

}  // namespace quib
