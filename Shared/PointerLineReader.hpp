#pragma once

#include <optional>
#include <string_view>

#include "Runtime/BoundedJson.hpp"
#include "Shared/ClientMessage.hpp"

namespace quib {

// Reads the pointer lines a phone sends many times a second (`move`, `scroll`, `scrollPhase`,
// `pointAtPanel`, `click`) straight off the text, with no parser and no tree.
//
// It takes only their plain form: one case key whose object holds each of the case's values
// once, of the type the case wants, and nothing else; JSON whitespace anywhere between tokens,
// the labels in any order. On anything else (another case, a key it does not know or sees twice,
// an escape in a key or a string, a null, a whole number written as "1.0", a number too large or
// too small for a double, text that is not JSON) it gives up and returns nothing: the full decode
// then reads the line, and alone decides whether and how it fails. What it does return is what
// the full decode would have returned, to the bit.
class PointerLineReader {
public:
    static std::optional<ClientMessage> read(std::string_view text, const BoundedJson::Limits& limits) noexcept;
};

}  // namespace quib
