#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "Runtime/Result.hpp"

namespace quib {

// Parses JSON text that may come from a hostile peer or a damaged file into a tree whose size
// and shape are bounded before any of it is built: nesting deeper than `maxDepth`, an object
// with more than `maxMembers` members, an array with more than `maxElements` elements, or more
// than `maxValues` values in all fails the parse at once. The cost is linear in the text: members are collected and moved into
// their object once it closes, never copied or searched one by one as the object grows.
// A key given twice keeps its first place and its last value.
class BoundedJson {
public:
    struct Limits {
        std::size_t maxDepth = 64;
        std::size_t maxMembers = 4096;
        std::size_t maxElements = 65536;
        std::size_t maxValues = 100000;
    };

    // Limits for text the host wrote itself, such as a stored list: as deep and as many members
    // an object as ever, but as many elements and values as the text could hold, so that nothing
    // the host once wrote is refused when it is read back. The text's size bounds the work.
    static Limits forStoredText(std::string_view text) {
        const std::size_t most = text.size() + 1;
        return Limits{.maxElements = std::max(Limits{}.maxElements, most),
                      .maxValues = std::max(Limits{}.maxValues, most)};
    }

    static Result<nlohmann::ordered_json> parse(std::string_view text, const Limits& limits);
    static Result<nlohmann::ordered_json> parse(std::string_view text) { return parse(text, Limits{}); }
};

}  // namespace quib
