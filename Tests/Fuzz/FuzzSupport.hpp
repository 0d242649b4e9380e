#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Platform/Logger.hpp"

namespace quib::fuzz {

// The fuzzer's input as text.
inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Log lines would drown the fuzzer's own output.
inline void silenceLog() {
    static const bool silenced = [] {
        Logger::setSink(nullptr);
        return true;
    }();
    (void)silenced;
}

// A broken property: the fuzzer records the input that broke it.
inline void require(bool holds) {
    if (!holds) std::abort();
}

}  // namespace quib::fuzz
