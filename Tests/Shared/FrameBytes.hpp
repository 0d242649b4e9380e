#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Runtime/Bytes.hpp"

namespace quib::testing {

inline std::string_view view(const Bytes& bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

// A 32-bit big-endian length.
inline std::string lengthOf(std::uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
}

// A length-prefixed frame assembled by hand, so readers are checked against the layout rather
// than against the writer.
inline std::string rawFrame(std::string_view header, std::string_view payload) {
    return lengthOf(static_cast<std::uint32_t>(header.size())) + std::string(header) +
           lengthOf(static_cast<std::uint32_t>(payload.size())) + std::string(payload);
}

}  // namespace quib::testing
