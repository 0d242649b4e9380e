// Strict Base64: whatever decodes is the one encoding of its bytes, and every byte string
// survives a round trip.
#include "FuzzSupport.hpp"
#include "Runtime/Base64.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    const std::string_view text = fuzz::text(data, size);
    if (auto bytes = base64Decode(text)) fuzz::require(base64Encode(*bytes) == text);
    const std::string encoded = base64Encode(std::span<const std::uint8_t>(data, size));
    auto back = base64Decode(encoded);
    fuzz::require(back && *back == Bytes(data, data + size));
    return 0;
}
