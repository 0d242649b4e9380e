#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Runtime/Bytes.hpp"

namespace quib {

// Standard Base64 (RFC 4648 alphabet, padded, no line breaks).
std::string base64Encode(std::span<const std::uint8_t> bytes);

// Strict decoding: only the standard alphabet, correct padding, no white space and no
// non-zero bits left over in the last character; anything else gives nothing.
std::optional<Bytes> base64Decode(std::string_view text);

}  // namespace quib
