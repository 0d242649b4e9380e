#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Runtime/Logger.hpp"
#include "Shared/QuibCoder.hpp"

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

// Decodes `text` as a message; whatever decodes must encode again and read back to the same
// line.
template <JsonCodable Message>
void requireRoundTrip(std::string_view text) {
    auto message = QuibCoder::decode<Message>(text);
    if (!message) return;
    auto line = QuibCoder::line(*message);
    if (!line) return;  // a number that is not finite cannot be written
    auto again = QuibCoder::decode<Message>(*line);
    require(again.ok());
    auto second = QuibCoder::line(*again);
    require(second.ok() && *second == *line);
}

}  // namespace quib::fuzz
