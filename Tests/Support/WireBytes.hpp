#pragma once

#include <string>
#include <string_view>

#include "Runtime/Bytes.hpp"

namespace quib::testing {

// Bytes written as hexadecimal pairs, spaces ignored: "00 01 21 12".
inline Bytes hex(std::string_view text) {
    std::string digits;
    for (const char c : text)
        if (c != ' ') digits += c;
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace quib::testing
